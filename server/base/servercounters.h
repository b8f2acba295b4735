#pragma once

#include <QtGlobal>

#include <atomic>

// Counts what the rooms below the listener see happen, for the metrics: the database's failures
// and the period gate's kept copy. Process-wide, since every room may count and none may reach
// up to the listener. Each count is one relaxed atomic add, cheap enough for any call path.
class ServerCounters final {
public:
    enum class DatabaseError {
        Failure,     // a statement or transaction failed
        Unreachable, // no connection could be opened
        Lost,        // the database dropped an open connection
        Count
    };
    enum class Gate {
        KeptHit,    // answered from the kept copy
        KeptReload, // the kept copy was read again
        DirectRead, // no copy may be kept: read for the call alone
        Count
    };

    static void Add(DatabaseError what) { Bump(s_database[int(what)]); }
    static void Add(Gate what) { Bump(s_gate[int(what)]); }
    static quint64 Value(DatabaseError what) {
        return s_database[int(what)].load(std::memory_order_relaxed);
    }
    static quint64 Value(Gate what) { return s_gate[int(what)].load(std::memory_order_relaxed); }

private:
    static void Bump(std::atomic<quint64> &counter) {
        counter.fetch_add(1, std::memory_order_relaxed);
    }
    static std::atomic<quint64> s_database[int(DatabaseError::Count)];
    static std::atomic<quint64> s_gate[int(Gate::Count)];
};

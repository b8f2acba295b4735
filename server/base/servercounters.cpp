#include "servercounters.h"

std::atomic<quint64> ServerCounters::s_database[int(ServerCounters::DatabaseError::Count)] = {};
std::atomic<quint64> ServerCounters::s_gate[int(ServerCounters::Gate::Count)] = {};

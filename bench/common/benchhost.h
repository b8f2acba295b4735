#pragma once

#include "components/hostinterface.h"
#include "localdatabase.h"
#include "rpc/netconnection.h"

#include <QTemporaryDir>

class TestHost;

// Messages and busy calls go to the scripted host; the local copies are the desktop host's own,
// refreshed over their own connection exactly as ger-host does. Registers itself on construction
// and hands the registration back to the scripted host on destruction.
class BenchHost final : public IHost {
public:
    BenchHost(TestHost &inner, int port);
    ~BenchHost() override;

    TNetConnection Cache;

    QWidget *MainForm() override;
    void ShowChild(QWidget *form) override;
    int MessageDlg(const QString &text, TMsgDlgType type, int buttons, int context) override;
    void ShowBusy(int kind, const QString &text) override;
    void HideBusy() override;
    void ShowHelp(const QString &file, int context) override;
    QString WebURL() override;
    int WebPort() override;
    QString Operador() override;
    void AtualizaLocalCache(const QStringList &tables) override;
    QSqlDatabase LocalDatabase() override;
    void HandleException(const std::exception &error) override;

private:
    TestHost &m_inner;
    QTemporaryDir m_dir;
    ::LocalDatabase m_local;
};

// The start every screen benchmark shares, around its QApplication: the offscreen platform unless
// one is chosen (before), and the server binary beside the benchmark unless GER_BIN_DIR says
// otherwise (after).
void UseOffscreenUnlessSet();
void FindServerBesideBenchmark();

// The large database (1,000 companies) the benchmarks share, kept between runs in bench-cache
// beside the executables and seeded on first use. Empty when it cannot be made (why: stderr).
QString SharedLargeSeed();

// Calls and wire time of the screen's connection and the cache connection together.
struct CallTotals {
    qint64 Calls = 0;
    qint64 Nanoseconds = 0;
    void Add(const TNetConnection &screen, const TNetConnection &cache);
};

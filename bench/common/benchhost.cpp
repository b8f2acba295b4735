#include "benchhost.h"

#include "serverprocess.h"
#include "testhost.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

using namespace Qt::StringLiterals;

BenchHost::BenchHost(TestHost &inner, int port)
    : m_inner(inner) {
    Cache.SetServerName(u"Host.Cache"_s);
    Cache.SetPort(port);
    m_local.Open(m_dir.filePath(u"local.db"_s));
    m_local.Refresh(::LocalDatabase::CachedTables(), Cache);
    RegisterHost(this);
}

BenchHost::~BenchHost() {
    RegisterHost(&m_inner);
}

QWidget *BenchHost::MainForm() {
    return m_inner.MainForm();
}
void BenchHost::ShowChild(QWidget *form) {
    m_inner.ShowChild(form);
}
int BenchHost::MessageDlg(const QString &text, TMsgDlgType type, int buttons, int context) {
    return m_inner.MessageDlg(text, type, buttons, context);
}
void BenchHost::ShowBusy(int kind, const QString &text) {
    m_inner.ShowBusy(kind, text);
}
void BenchHost::HideBusy() {
    m_inner.HideBusy();
}
void BenchHost::ShowHelp(const QString &file, int context) {
    m_inner.ShowHelp(file, context);
}
QString BenchHost::WebURL() {
    return m_inner.WebURL();
}
int BenchHost::WebPort() {
    return m_inner.WebPort();
}
QString BenchHost::Operador() {
    return m_inner.Operador();
}
void BenchHost::AtualizaLocalCache(const QStringList &tables) {
    m_local.Refresh(tables, Cache);
}
QSqlDatabase BenchHost::LocalDatabase() {
    return m_local.Connection();
}
void BenchHost::HandleException(const std::exception &error) {
    m_inner.HandleException(error);
}

void UseOffscreenUnlessSet() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

void FindServerBesideBenchmark() {
    if (qEnvironmentVariableIsEmpty("GER_BIN_DIR"))
        qputenv("GER_BIN_DIR", QCoreApplication::applicationDirPath().toUtf8());
}

QString SharedLargeSeed() {
    const QString dir = QCoreApplication::applicationDirPath() + u"/../bench-cache"_s;
    const QString path = dir + u"/large.db"_s;
    QDir().mkpath(dir);
    if (QFile::exists(path))
        return path;
    QElapsedTimer timer;
    timer.start();
    ServerProcess seeding;
    if (!seeding.Start({u"--db"_s, u"sqlite:"_s + path}, 0, u"large"_s)) {
        std::fprintf(stderr, "server did not start: %s\n", seeding.Output().constData());
        return {};
    }
    std::fprintf(stderr, "large seed made in %.1f s\n", timer.elapsed() / 1000.0);
    return path;
}

void CallTotals::Add(const TNetConnection &screen, const TNetConnection &cache) {
    for (const TNetConnection *net : {&screen, &cache}) {
        Calls += net->CallUsage().Calls;
        Nanoseconds += net->CallUsage().Nanoseconds;
    }
}

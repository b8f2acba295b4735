#include "desktophost.h"

#include "busyindicator.h"
#include "dataset/exceptions.h"
#include "helpwindow.h"
#include "mainwindow.h"
#include "rpc/netconnection.h"

#include <QApplication>
#include <QJsonObject>
#include <QMessageBox>
#include <QPushButton>
#include <QSslCertificate>
#include <QSslConfiguration>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

QString MessageText(const std::exception &error) {
    if (const auto *own = dynamic_cast<const Exception *>(&error))
        return own->Message();
    return QString::fromUtf8(error.what());
}

void PrintLine(const QString &line) {
    std::fprintf(stderr, "%s\n", line.toUtf8().constData());
    std::fflush(stderr);
}

QString KindName(TMsgDlgType type) {
    switch (type) {
    case TMsgDlgType::mtWarning:
        return u"Atenção"_s;
    case TMsgDlgType::mtError:
        return u"Erro"_s;
    case TMsgDlgType::mtInformation:
        return u"Informação"_s;
    case TMsgDlgType::mtConfirmation:
        return u"Confirmação"_s;
    }
    return {};
}

} // namespace

DesktopHost::DesktopHost(const HostOptions &options, MainWindow *window)
    : m_options(options)
    , m_window(window)
    , m_busy(new BusyIndicator(window))
    , m_cache(std::make_unique<TNetConnection>()) {
    m_cache->SetServerName(u"Host.Cache"_s);
    m_cache->SetHost(options.ServerHost);
    m_cache->SetPort(options.ServerPort);
    PrepareConnection(*m_cache);
}

void DesktopHost::PrepareConnection(TNetConnection &connection) {
    connection.SetUseTls(m_options.ServerUrl.startsWith(u"wss:"_s));
    connection.SetToken(QString::fromUtf8(m_options.Token));
    connection.SetOperator(m_options.Operator);
    if (!m_options.CaFile.isEmpty()) {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        QList<QSslCertificate> trusted = config.caCertificates();
        trusted += QSslCertificate::fromPath(m_options.CaFile);
        config.setCaCertificates(trusted);
        connection.SetSslConfiguration(config);
    }
}

DesktopHost::~DesktopHost() {
    delete m_help;
    m_localDb.Close();
}

void DesktopHost::StartLocalDatabase() {
    m_localDb.Open(m_options.LocalDbPath);
    try {
        m_localDb.Refresh(::LocalDatabase::CachedTables(), *m_cache);
    } catch (const std::exception &error) {
        PrintLine(u"ger-host: cópias locais não atualizadas: %1"_s.arg(MessageText(error)));
    }
}

QString DesktopHost::ServerDescription() {
    const TResultEnvelope answer = m_cache->Call(u"GetServidor"_s, {});
    if (!answer.Ok)
        throw Exception(answer.ErrorMessage);
    const QJsonObject info = answer.Payload.toObject();
    return u"%1 (servidor %2)"_s.arg(info.value(u"banco"_s).toString(),
                                     info.value(u"versao"_s).toString());
}

TNetConnection &DesktopHost::Audit() {
    if (!m_audit) {
        m_audit = std::make_unique<TNetConnection>();
        m_audit->SetServerName(u"Audit"_s);
        m_audit->SetHost(m_options.ServerHost);
        m_audit->SetPort(m_options.ServerPort);
        PrepareConnection(*m_audit);
    }
    return *m_audit;
}

HelpWindow *DesktopHost::Help() const {
    return m_help;
}

QWidget *DesktopHost::MainForm() {
    return m_window;
}

void DesktopHost::ShowChild(QWidget *form) {
    if (m_window)
        m_window->ShowChild(form);
    else
        form->show();
}

int DesktopHost::MessageDlg(const QString &text, TMsgDlgType type, int buttons, int helpContext) {
    return MessageDlgDetalhes(text, {}, type, buttons, helpContext);
}

int DesktopHost::MessageDlgDetalhes(const QString &text, const QString &details, TMsgDlgType type,
                                    int buttons, int helpContext) {
    Q_UNUSED(helpContext);
    if (!m_interactive) {
        PrintLine(u"[%1] %2"_s.arg(KindName(type), text));
        if (!details.isEmpty())
            PrintLine(details);
        if (type == TMsgDlgType::mtError)
            ++m_failures;
        // Nobody to ask: decline anything that would change data.
        if (buttons & mbNo)
            return mrNo;
        if (buttons & mbCancel)
            return mrCancel;
        return mrOk;
    }

    QMessageBox box(m_window);
    // Screens end lines with a lone carriage return, which a label does not break on.
    box.setText(QString(text).replace(u"\r\n"_s, u"\n"_s).replace(u'\r', u'\n'));
    if (!details.isEmpty())
        box.setDetailedText(details);
    box.setWindowTitle(KindName(type));
    switch (type) {
    case TMsgDlgType::mtWarning:
        box.setIcon(QMessageBox::Warning);
        break;
    case TMsgDlgType::mtError:
        box.setIcon(QMessageBox::Critical);
        break;
    case TMsgDlgType::mtInformation:
        box.setIcon(QMessageBox::Information);
        break;
    case TMsgDlgType::mtConfirmation:
        box.setIcon(QMessageBox::Question);
        break;
    }
    QMessageBox::StandardButtons standard;
    if (buttons & mbYes)
        standard |= QMessageBox::Yes;
    if (buttons & mbNo)
        standard |= QMessageBox::No;
    if (buttons & mbOK)
        standard |= QMessageBox::Ok;
    if (buttons & mbCancel)
        standard |= QMessageBox::Cancel;
    if (!standard)
        standard = QMessageBox::Ok;
    box.setStandardButtons(standard);
    // A question defaults to its cautious answer, as the suite always did.
    if (buttons & mbNo)
        box.setDefaultButton(QMessageBox::No);

    // The box must take the mouse even while a screen holds the hourglass.
    int restored = 0;
    while (QApplication::overrideCursor()) {
        QApplication::restoreOverrideCursor();
        ++restored;
    }
    const int pressed = box.exec();
    for (int i = 0; i < restored; ++i)
        QApplication::setOverrideCursor(Qt::WaitCursor);

    switch (pressed) {
    case QMessageBox::Yes:
        return mrYes;
    case QMessageBox::No:
        return mrNo;
    case QMessageBox::Ok:
        return mrOk;
    default:
        return mrCancel;
    }
}

void DesktopHost::ShowBusy(int kind, const QString &text) {
    if (m_interactive)
        m_busy->ShowBusy(kind, text);
}

void DesktopHost::HideBusy() {
    m_busy->HideBusy();
}

void DesktopHost::ShowHelp(const QString &helpFile, int context) {
    Q_UNUSED(helpFile); // every screen's help file is embedded in the host
    if (!m_help)
        m_help = new HelpWindow(nullptr);
    m_help->ShowContext(context);
}

QString DesktopHost::WebURL() {
    return m_options.ServerHost;
}

int DesktopHost::WebPort() {
    return m_options.ServerPort;
}

QString DesktopHost::Operador() {
    return m_options.Operator;
}

void DesktopHost::AtualizaLocalCache(const QStringList &tables) {
    m_localDb.Refresh(tables, *m_cache);
}

QSqlDatabase DesktopHost::LocalDatabase() {
    return m_localDb.Connection();
}

void DesktopHost::HandleException(const std::exception &error) {
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    ++m_failures;
    const QString text = MessageText(error);
    if (!m_interactive) {
        PrintLine(u"[Erro] %1"_s.arg(text));
        return;
    }
    QMessageBox::critical(m_window, u"Erro"_s, text);
}

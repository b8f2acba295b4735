#include "hostapplication.h"
#include "hostoptions.h"
#include "mainwindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLocale>
#include <QTimer>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[]) {
    // Help and version need no window, so they must work where there is no display at all.
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--help" || arg == "-h" || arg == "--version" || arg == "-v") {
            QCoreApplication core(argc, argv);
            QCoreApplication::setApplicationName(u"ger-host"_s);
            QCoreApplication::setApplicationVersion(QStringLiteral(GER_VERSION));
            std::printf("%s", HostOptions::HelpOrVersion(arg).toUtf8().constData());
            return 0;
        }
    }
    // Headless jobs must run where there is no display at all.
    bool headless = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        headless = headless || arg == "--list" || arg == "--screenshot" || arg == "--history";
    }
    if (headless && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    QApplication::setApplicationName(u"ger-host"_s);
    QApplication::setOrganizationName(u"ger"_s);
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    if (!HostApplication::InstallTranslations())
        std::fprintf(stderr, "ger-host: tradução pt_BR do Qt não encontrada; botões em inglês.\n");

    HostOptions options;
    QString error;
    if (!HostOptions::Parse(QApplication::arguments(), options, &error)) {
        std::fprintf(stderr, "ger-host: %s\n", error.toUtf8().constData());
        return 2;
    }

    HostApplication host(options);
    host.Start();
    int code = 0;
    if (options.List) {
        code = host.RunList();
    } else if (!options.History.isEmpty()) {
        code = host.RunHistory();
    } else if (!options.ScreenshotFile.isEmpty()) {
        code = host.RunScreenshot();
    } else {
        host.Window()->showMaximized();
        QTimer::singleShot(0, &host, [&host] { host.OpenParamContab(); });
        QObject::connect(host.Window(), &MainWindow::closing, &app, &QApplication::quit);
        code = QApplication::exec();
    }
    host.Shutdown();
    return code;
}

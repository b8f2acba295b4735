#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// What the desktop host was asked to do, from its command line.
struct HostOptions {
    QString ServerUrl = QStringLiteral("ws://127.0.0.1:9400");
    QString ServerHost = QStringLiteral("127.0.0.1");
    int ServerPort = 9400;
    QString Operator;       // defaults to the system user
    QByteArray Token;       // bearer token, from --token-file or GER_TOKEN_FILE
    QString CaFile;         // certificates to trust beside the system's, for wss
    QString LocalDbPath;    // defaults to a file in the user's data folder
    bool List = false;      // print the records and leave
    QString ScreenshotFile; // save the window and leave
    QString History;        // print the change history of these companies and leave
    QString Since;          // ... from this day on (ISO), empty for all
    int Page = 0; // page shown in the screenshot: 0 list, 1 form, 2 controls, 3 bulk screen

    bool Headless() const { return List || !ScreenshotFile.isEmpty() || !History.isEmpty(); }

    // False (with a message for the user in *error) when the arguments make no sense.
    static bool Parse(const QStringList &arguments, HostOptions &out, QString *error);
    // The text --help ("-h") or --version ("-v") prints.
    static QString HelpOrVersion(const QByteArray &which);
    static QString DefaultOperator();
    static QString DefaultLocalDbPath();
};

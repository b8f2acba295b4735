#include "moduleloader.h"

#include "dataset/exceptions.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

namespace {
using Procedure = void (*)();
}

ModuleLoader::ModuleLoader(QString path)
    : m_library(std::move(path)) {}

ModuleLoader::~ModuleLoader() {
    Unload();
}

QString ModuleLoader::DefaultPath() {
    // Beside the executable in a build; in the package's library folder once installed.
    const QDir here(QCoreApplication::applicationDirPath());
    const QString beside = here.absoluteFilePath(u"libPkg_ger09400.so"_s);
    const QString installed = here.absoluteFilePath(u"../lib/ger-host/libPkg_ger09400.so"_s);
    return QFile::exists(beside) || !QFile::exists(installed) ? beside : QDir::cleanPath(installed);
}

void ModuleLoader::Load() {
    if (m_initialized)
        return;
    if (!m_library.load())
        throw Exception(u"Não foi possível carregar o módulo %1: %2"_s.arg(
            m_library.fileName(), m_library.errorString()));
    const auto initialize = reinterpret_cast<Procedure>(m_library.resolve("Initialize"));
    if (!initialize) {
        m_library.unload();
        throw Exception(u"O módulo %1 não exporta Initialize."_s.arg(m_library.fileName()));
    }
    initialize();
    m_initialized = true;
}

void ModuleLoader::Call(const char *entry) {
    Load();
    const auto procedure = reinterpret_cast<Procedure>(m_library.resolve(entry));
    if (!procedure)
        throw Exception(
            u"O módulo %1 não exporta %2."_s.arg(m_library.fileName(), QString::fromLatin1(entry)));
    procedure();
}

QFunctionPointer ModuleLoader::Resolve(const char *symbol) {
    return m_library.isLoaded() ? m_library.resolve(symbol) : nullptr;
}

void ModuleLoader::Unload() {
    if (!m_initialized)
        return;
    m_initialized = false;
    if (const auto finalize = reinterpret_cast<Procedure>(m_library.resolve("Finalize")))
        finalize();
    m_library.unload();
}

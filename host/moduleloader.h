#pragma once

#include <QLibrary>
#include <QString>

// Loads a screen package, runs its initialisation once, calls its entry procedure on demand and,
// at the end, its finalisation before unloading it.
class ModuleLoader final {
public:
    explicit ModuleLoader(QString path);
    ~ModuleLoader(); // Unload()

    // Loads the library and runs its Initialize. Throws Exception with the loader's reason.
    void Load();
    bool IsLoaded() const { return m_initialized; }

    // Calls the exported entry procedure (loading first when needed). Whatever the procedure
    // throws travels on to the caller.
    void Call(const char *entry);

    // Address of an exported symbol, nullptr when absent or not loaded.
    QFunctionPointer Resolve(const char *symbol);

    // Runs Finalize and unloads. Every object the package created must be gone by then.
    void Unload();

    QString Path() const { return m_library.fileName(); }
    static QString DefaultPath(); // libPkg_ger09400.so next to the executable

private:
    QLibrary m_library;
    bool m_initialized = false;
};

#include "backend.h"

#include "auditobject.h"

#include "cacheobject.h"
#include "database.h"
#include "migrations.h"
#include "paramctblobject.h"
#include "seeds.h"

Backend::Backend() = default;

Backend::~Backend() {
    // The objects hold a reference to the database: they go first.
    m_cache.reset();
    m_paramCtbl.reset();
    m_database.reset();
}

std::unique_ptr<Backend> Backend::Open(const QString &url, QString *error) {
    std::unique_ptr<Database> database = Database::Open(url, error);
    if (!database)
        return nullptr;
    if (!Migrations::Run(*database, error))
        return nullptr;
    std::unique_ptr<Backend> backend(new Backend);
    backend->m_paramCtbl = std::make_unique<ParamCtblObject>(*database);
    backend->m_cache = std::make_unique<CacheObject>(*database);
    backend->m_audit = std::make_unique<AuditObject>(*database);
    backend->m_database = std::move(database);
    return backend;
}

QString Backend::Redacted(const QString &url) {
    return Database::Redacted(url);
}

bool Backend::Seed(const QString &seed, QString *error, bool *seeded) {
    return Seeds::Run(*m_database, seed, error, seeded);
}

QList<RemoteObject *> Backend::Objects() const {
    return {m_paramCtbl.get(), m_cache.get(), m_audit.get()};
}

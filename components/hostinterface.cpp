#include "components/hostinterface.h"

#include "dataset/exceptions.h"

using namespace Qt::StringLiterals;

namespace {
IHost *g_host = nullptr;
}

void RegisterHost(IHost *host) {
    g_host = host;
}

IHost *Host() {
    if (!g_host)
        throw Exception(u"Nenhum host registrado."_s);
    return g_host;
}

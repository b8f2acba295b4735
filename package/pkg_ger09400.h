#pragma once

#include <QString>
#include <QtGlobal>

class TfrmParamContab;
class TfrmCadAuto;

// What the package exports to the host and to sibling modules, under plain C names so that a
// loader finds them by name.
extern "C" {

// The one accounting-parameter screen, and whether it exists (cleared when it closes).
Q_DECL_EXPORT extern TfrmParamContab *frmParamContab;
Q_DECL_EXPORT extern bool bostCriado;
// The bulk-registration screen most recently opened.
Q_DECL_EXPORT extern TfrmCadAuto *frmCadAuto;
// Companies chosen for bulk registration: "" none, "T" all, else the list dialog's codes.
Q_DECL_EXPORT extern QString stEmpresa;

// Opens the accounting-parameter screen, or restores and brings forward the existing one.
// No error trap: a failure leaves the hourglass on and goes to the host's error handling.
Q_DECL_EXPORT void CriaParamCtbl();
// The host's way in; the same as CriaParamCtbl.
Q_DECL_EXPORT void IniProc();

// Package load and unload: each unit's initialisation on the first load, its finalisation on
// the last unload (units keep use counters, so nested loads do not reset state twice).
Q_DECL_EXPORT void Initialize();
Q_DECL_EXPORT void Finalize();

} // extern "C"

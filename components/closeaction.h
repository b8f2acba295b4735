#pragma once

// What happens to a form after its close handling: caNone keeps it open, caHide hides it,
// caFree hides and releases it (deleteLater), caMinimize minimises it.
enum TCloseAction { caNone, caHide, caFree, caMinimize };

#pragma once

#include <QString>
#include <QStringList>

// How the screens name a parameter field ("Período Contábil - Data Inicial", "Controla Centro
// de Custo"); a field no screen shows keeps its own name.
QString FieldCaption(const QString &field);
// The fields that have a caption, in the screens' order.
QStringList CaptionedFields();

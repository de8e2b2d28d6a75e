#pragma once

#include <QString>

// Tells whoever runs a long test how far it has got (tools/run-tests.sh shows it every half
// minute): `text` replaces what was said before. Nothing happens outside such a run.
void reportProgress(const QString& text);

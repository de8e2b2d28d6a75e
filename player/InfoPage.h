#pragma once

#include <QString>

// The product information page, opened from the popup menu and from the About box.
inline const QString kInfoPageUrl = QStringLiteral("https://quiva.example.org/quiva_info.html");

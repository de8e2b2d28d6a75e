#include "platform/desktop/Desktop.h"

#include "platform/registry/Providers.h"

namespace desktop {
namespace {

std::vector<BYTE> textData(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::vector<BYTE> data(bytes.begin(), bytes.end());
    data.push_back(0);
    return data;
}

} // namespace

void installRegistryProviders() {
    registry::provideKey(HKEY_CLASSES_ROOT, "http\\shell\\open\\command",
                         []() -> std::optional<std::vector<registry::ProvidedValue>> {
                             const std::optional<Launcher> browser = defaultWebBrowser();
                             if (!browser)
                                 return std::nullopt;
                             return std::vector<registry::ProvidedValue>{
                                 {"", REG_SZ, textData(commandLine(*browser))}};
                         });
    registry::provideKey(
        HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO",
        []() -> std::optional<std::vector<registry::ProvidedValue>> {
            const QString program = systemInformationProgram();
            if (program.isEmpty())
                return std::nullopt;
            return std::vector<registry::ProvidedValue>{{"PATH", REG_SZ, textData(program)}};
        });
}

} // namespace desktop

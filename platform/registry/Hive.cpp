#include "platform/registry/Hive.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

namespace registry {

namespace {

constexpr std::array<std::pair<HKEY, std::string_view>, 3> kRoots = {{
    {HKEY_CLASSES_ROOT, "HKEY_CLASSES_ROOT"},
    {HKEY_CURRENT_USER, "HKEY_CURRENT_USER"},
    {HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
}};

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && lowered(a) == lowered(b);
}

} // namespace

std::string lowered(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

std::string_view rootName(HKEY root) {
    for (const auto& [handle, name] : kRoots)
        if (handle == root)
            return name;
    return {};
}

std::optional<HKEY> rootFromName(std::string_view name) {
    for (const auto& [handle, rootText] : kRoots)
        if (sameName(rootText, name))
            return handle;
    return std::nullopt;
}

std::string joinPath(std::string_view base, std::string_view subKey) {
    std::string result(base);
    std::size_t start = 0;
    while (start <= subKey.size()) {
        std::size_t end = subKey.find('\\', start);
        if (end == std::string_view::npos)
            end = subKey.size();
        if (end > start) {
            if (!result.empty())
                result += '\\';
            result += subKey.substr(start, end - start);
        }
        start = end + 1;
    }
    return result;
}

const Value* Key::find(std::string_view name) const {
    for (const Value& value : values)
        if (sameName(value.name, name))
            return &value;
    return nullptr;
}

void Key::set(Value value) {
    for (Value& existing : values) {
        if (sameName(existing.name, value.name)) {
            existing.type = value.type;
            existing.data = std::move(value.data);
            return;
        }
    }
    values.push_back(std::move(value));
}

bool Key::erase(std::string_view name) {
    auto found = std::find_if(values.begin(), values.end(),
                              [&](const Value& value) { return sameName(value.name, name); });
    if (found == values.end())
        return false;
    values.erase(found);
    return true;
}

const Key* Hive::find(std::string_view fullPath) const {
    auto found = m_keys.find(lowered(fullPath));
    return found == m_keys.end() ? nullptr : &found->second;
}

Key* Hive::find(std::string_view fullPath) {
    auto found = m_keys.find(lowered(fullPath));
    return found == m_keys.end() ? nullptr : &found->second;
}

Key& Hive::create(std::string_view fullPath) {
    // Each missing parent is created with the spelling given here; existing ones keep theirs.
    const std::size_t rootEnd = std::min(fullPath.find('\\'), fullPath.size());
    std::string spelling(fullPath.substr(0, rootEnd));
    std::size_t start = rootEnd + 1;
    while (start < fullPath.size()) {
        const std::size_t end = std::min(fullPath.find('\\', start), fullPath.size());
        // An empty component ("A\\B", a trailing '\') names no key: right after the root it
        // would make the root itself a key.
        if (end > start) {
            spelling = joinPath(spelling, fullPath.substr(start, end - start));
            Key& key = m_keys[lowered(spelling)];
            if (key.spelling.empty())
                key.spelling = spelling;
            spelling = key.spelling;
        }
        start = end + 1;
    }
    Key& key = m_keys[lowered(spelling)]; // the last one created above, looked up once more
    if (key.spelling.empty())
        key.spelling = spelling;
    return key;
}

bool Hive::eraseTree(std::string_view fullPath) {
    const std::string path = lowered(fullPath);
    const std::string below = path + '\\';
    const std::size_t before = m_keys.size();
    std::erase_if(m_keys, [&](const auto& entry) {
        return entry.first == path || entry.first.starts_with(below);
    });
    return m_keys.size() != before;
}

// ---- REGEDIT4 text ----

namespace {

constexpr std::string_view kHeader = "REGEDIT4";

bool isPlainText(const Value& value) {
    if (value.type != REG_SZ || value.data.empty() || value.data.back() != 0)
        return false;
    return std::none_of(value.data.begin(), value.data.end() - 1,
                        [](BYTE b) { return b == 0 || b == '\n' || b == '\r'; });
}

std::string quoted(std::string_view text) {
    std::string result = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            result += '\\';
        result += c;
    }
    return result + '"';
}

std::string formatData(const Value& value) {
    char buffer[32];
    if (isPlainText(value))
        return quoted(std::string_view(reinterpret_cast<const char*>(value.data.data()),
                                       value.data.size() - 1));
    if (value.type == REG_DWORD && value.data.size() == 4) {
        const DWORD number = DWORD{value.data[0]} | DWORD{value.data[1]} << 8 |
                             DWORD{value.data[2]} << 16 | DWORD{value.data[3]} << 24;
        std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
        return buffer;
    }
    std::string result = "hex";
    if (value.type != REG_BINARY) {
        std::snprintf(buffer, sizeof buffer, "(%x)", value.type);
        result += buffer;
    }
    result += ':';
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, i == 0 ? "%02x" : ",%02x", value.data[i]);
        result += buffer;
    }
    return result;
}

// Reads a quoted string at text[pos] (pos on the opening quote); advances pos past the closing
// quote. nullopt when it is not terminated or holds an unknown escape.
std::optional<std::string> readQuoted(std::string_view text, std::size_t& pos) {
    std::string result;
    for (++pos; pos < text.size(); ++pos) {
        char c = text[pos];
        if (c == '"') {
            ++pos;
            return result;
        }
        if (c == '\\') {
            if (++pos >= text.size() || (text[pos] != '\\' && text[pos] != '"'))
                return std::nullopt;
            c = text[pos];
        }
        result += c;
    }
    return std::nullopt;
}

std::optional<std::vector<BYTE>> readHexBytes(std::string_view text) {
    std::vector<BYTE> bytes;
    std::size_t pos = 0;
    auto skipSpace = [&] {
        while (pos < text.size() && std::isspace(static_cast<unsigned char>(text[pos])))
            ++pos;
    };
    skipSpace();
    while (pos < text.size()) {
        unsigned digits = 0;
        unsigned byte = 0;
        while (pos < text.size() && std::isxdigit(static_cast<unsigned char>(text[pos]))) {
            byte = byte * 16 + std::stoul(std::string(1, text[pos]), nullptr, 16);
            ++digits;
            ++pos;
        }
        if (digits == 0 || digits > 2)
            return std::nullopt;
        bytes.push_back(static_cast<BYTE>(byte));
        skipSpace();
        if (pos < text.size() && text[pos] != ',')
            return std::nullopt;
        ++pos;
        skipSpace();
    }
    return bytes;
}

std::optional<Value> readData(std::string_view text) {
    Value value;
    if (text.starts_with('"')) {
        std::size_t pos = 0;
        auto string = readQuoted(text, pos);
        if (!string || pos != text.size())
            return std::nullopt;
        value.type = REG_SZ;
        value.data.assign(string->begin(), string->end());
        value.data.push_back(0);
        return value;
    }
    if (text.starts_with("dword:")) {
        std::string_view digits = text.substr(6);
        if (digits.empty() || digits.size() > 8 ||
            !std::all_of(digits.begin(), digits.end(),
                         [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
            return std::nullopt;
        const DWORD number = std::stoul(std::string(digits), nullptr, 16);
        value.type = REG_DWORD;
        value.data = {BYTE(number), BYTE(number >> 8), BYTE(number >> 16), BYTE(number >> 24)};
        return value;
    }
    if (!text.starts_with("hex"))
        return std::nullopt;
    text.remove_prefix(3);
    value.type = REG_BINARY;
    if (text.starts_with('(')) {
        const std::size_t close = text.find(')');
        std::string_view digits = text.substr(1, close == text.npos ? 0 : close - 1);
        if (digits.empty() || digits.size() > 8 ||
            !std::all_of(digits.begin(), digits.end(),
                         [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
            return std::nullopt;
        value.type = std::stoul(std::string(digits), nullptr, 16);
        text.remove_prefix(close + 1);
    }
    if (!text.starts_with(':'))
        return std::nullopt;
    auto bytes = readHexBytes(text.substr(1));
    if (!bytes)
        return std::nullopt;
    value.data = std::move(*bytes);
    return value;
}

// One `name=data` line of a key.
std::optional<Value> readValueLine(std::string_view line) {
    std::string name;
    std::size_t pos = 0;
    if (line.starts_with('@')) {
        pos = 1;
    } else if (line.starts_with('"')) {
        auto text = readQuoted(line, pos);
        if (!text)
            return std::nullopt;
        name = std::move(*text);
    } else {
        return std::nullopt;
    }
    if (pos >= line.size() || line[pos] != '=')
        return std::nullopt;
    auto value = readData(line.substr(pos + 1));
    if (value)
        value->name = std::move(name);
    return value;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

// Splits into logical lines: a line ending in a backslash continues on the next (long hex data).
std::vector<std::pair<int, std::string>> logicalLines(std::string_view text) {
    std::vector<std::pair<int, std::string>> lines;
    std::string pending;
    int pendingStart = 0;
    int number = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == text.npos)
            end = text.size();
        std::string_view line = trimmed(text.substr(start, end - start));
        ++number;
        if (pending.empty())
            pendingStart = number;
        // regedit breaks long hex data after a comma: "hex:01,02,\"
        const bool continues = line.ends_with(",\\");
        pending += continues ? line.substr(0, line.size() - 1) : line;
        if (!continues) {
            lines.emplace_back(pendingStart, std::move(pending));
            pending.clear();
        }
        start = end + 1;
    }
    if (!pending.empty())
        lines.emplace_back(pendingStart, std::move(pending));
    return lines;
}

} // namespace

ParsedHive parseRegFile(std::string_view text) {
    ParsedHive result;
    auto fail = [&](int line, const char* what) {
        result.problem = "line " + std::to_string(line) + ": " + what;
        return result;
    };
    const auto lines = logicalLines(text);
    std::size_t next = 0;
    while (next < lines.size() && lines[next].second.empty())
        ++next;
    if (next == lines.size())
        return text.empty() ? result : fail(1, "no REGEDIT4 header");
    if (lines[next].second != kHeader)
        return fail(lines[next].first, "no REGEDIT4 header");
    Key* current = nullptr;
    for (++next; next < lines.size(); ++next) {
        const auto& [number, line] = lines[next];
        if (line.empty() || line.starts_with(';'))
            continue;
        if (line.starts_with('[')) {
            if (!line.ends_with(']'))
                return fail(number, "unterminated key name");
            const std::string path = line.substr(1, line.size() - 2);
            const std::size_t slash = path.find('\\');
            // "[HKEY_CURRENT_USER\]" names a root alone, which would be written back as a line
            // that no longer reads.
            if (!rootFromName(path.substr(0, slash)) || slash == path.npos ||
                joinPath({}, path.substr(slash + 1)).empty())
                return fail(number, "key outside the three roots");
            current = &result.hive.create(path);
            continue;
        }
        if (!current)
            return fail(number, "value outside a key");
        auto value = readValueLine(line);
        if (!value)
            return fail(number, "unreadable value");
        current->set(std::move(*value));
    }
    return result;
}

std::string formatRegFile(const Hive& hive) {
    std::string text = std::string(kHeader) + "\n";
    for (const auto& [lowerPath, key] : hive.keys()) {
        text += "\n[" + key.spelling + "]\n";
        for (const Value& value : key.values)
            text +=
                (value.name.empty() ? "@" : quoted(value.name)) + "=" + formatData(value) + "\n";
    }
    return text;
}

} // namespace registry

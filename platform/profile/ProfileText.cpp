#include "platform/profile/ProfileText.h"

#include <QString>

#include <algorithm>
#include <deque>
#include <vector>

namespace profile {
namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

bool isAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (isAscii(a) && isAscii(b)) {
        return a.size() == b.size() &&
               std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   auto lower = [](char c) {
                       return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
                   };
                   return lower(x) == lower(y);
               });
    }
    const QString left = QString::fromUtf8(a.data(), qsizetype(a.size()));
    const QString right = QString::fromUtf8(b.data(), qsizetype(b.size()));
    return left.compare(right, Qt::CaseInsensitive) == 0;
}

std::string_view withoutQuotes(std::string_view value) {
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front();
    return quoted ? value.substr(1, value.size() - 2) : value;
}

enum class LineKind { Other, Header, Key };

// One line of the file: its text without the line end, and the line end itself ("\n", "\r\n" or
// nothing for a last line without one), so that untouched lines are written back unchanged.
struct Line {
    std::string_view body;
    std::string_view ending;
    LineKind kind = LineKind::Other;
    std::string_view name;       // section name or key, trimmed
    std::string_view value;      // trimmed, quotes still on
    std::size_t valueOffset = 0; // where the value starts in body
};

Line classify(std::string_view body, std::string_view ending) {
    Line line;
    line.body = body;
    line.ending = ending;
    const std::string_view text = trim(body);
    if (text.empty() || text.front() == ';')
        return line;
    if (text.front() == '[') {
        const auto close = text.find(']');
        if (close != std::string_view::npos) {
            line.kind = LineKind::Header;
            line.name = trim(text.substr(1, close - 1));
            return line;
        }
    }
    const auto equals = body.find('=');
    if (equals == std::string_view::npos)
        return line;
    const std::string_view key = trim(body.substr(0, equals));
    if (key.empty())
        return line;
    line.kind = LineKind::Key;
    line.name = key;
    const auto valueStart = body.find_first_not_of(kBlanks, equals + 1);
    line.valueOffset = valueStart == std::string_view::npos ? body.size() : valueStart;
    line.value = trim(body.substr(line.valueOffset));
    return line;
}

// A parsed file. The views point into `text`, which must outlive it.
struct Profile {
    std::string_view byteOrderMark;
    std::vector<Line> lines;

    static Profile parse(std::string_view text) {
        Profile profile;
        if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
            profile.byteOrderMark = text.substr(0, kByteOrderMark.size());
            text.remove_prefix(kByteOrderMark.size());
        }
        while (!text.empty()) {
            const auto newline = text.find('\n');
            std::string_view body = text.substr(0, newline);
            std::string_view ending;
            if (newline != std::string_view::npos) {
                const bool crlf = !body.empty() && body.back() == '\r';
                if (crlf)
                    body.remove_suffix(1);
                ending = text.substr(body.size(), crlf ? 2 : 1);
            }
            profile.lines.push_back(classify(body, ending));
            text.remove_prefix(body.size() + ending.size());
        }
        return profile;
    }

    // The line end new lines get: the file's first one, or "\n" for a file without any.
    std::string_view lineEnd() const {
        for (const Line& line : lines)
            if (!line.ending.empty())
                return line.ending;
        return "\n";
    }
};

struct Location {
    std::optional<std::size_t> key;     // first line holding the key
    std::optional<std::size_t> section; // header of the first matching section
    std::size_t lastLineOfSection = 0;  // its header or its last key line
};

Location locate(const Profile& profile, std::string_view section, std::string_view key) {
    Location found;
    bool inSection = false;
    bool inFirstSection = false;
    for (std::size_t i = 0; i < profile.lines.size(); ++i) {
        const Line& line = profile.lines[i];
        if (line.kind == LineKind::Header) {
            inSection = equalsIgnoringCase(line.name, section);
            inFirstSection = inSection && !found.section;
            if (inFirstSection) {
                found.section = i;
                found.lastLineOfSection = i;
            }
        } else if (line.kind == LineKind::Key && inSection) {
            if (inFirstSection)
                found.lastLineOfSection = i;
            if (equalsIgnoringCase(line.name, key)) {
                found.key = i;
                return found;
            }
        }
    }
    return found;
}

bool hasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != text.npos;
}

} // namespace

std::optional<std::string_view> findValue(std::string_view text, std::string_view section,
                                          std::string_view key) {
    const Profile profile = Profile::parse(text);
    const Location at = locate(profile, trim(section), trim(key));
    if (!at.key)
        return std::nullopt;
    return withoutQuotes(profile.lines[*at.key].value);
}

std::optional<std::string> withValue(std::string_view old, std::string_view section,
                                     std::string_view key, const char* value) {
    section = trim(section);
    key = trim(key);
    Profile profile = Profile::parse(old);
    const Location at = locate(profile, section, key);
    const std::string_view eol = profile.lineEnd();
    std::deque<std::string> added; // storage for the lines this write makes up (stays in place)
    auto makeLine = [&](std::string text) -> std::string_view {
        return added.emplace_back(std::move(text));
    };
    auto endLastLine = [&] {
        if (!profile.lines.empty() && profile.lines.back().ending.empty())
            profile.lines.back().ending = eol;
    };

    if (!value && !at.key)
        return std::nullopt;
    if (!value) {
        profile.lines.erase(profile.lines.begin() + std::ptrdiff_t(*at.key));
    } else if (at.key) {
        Line& line = profile.lines[*at.key];
        line.body = makeLine(std::string(line.body.substr(0, line.valueOffset)) + value);
    } else if (at.section) {
        if (at.lastLineOfSection + 1 == profile.lines.size())
            endLastLine();
        const Line entry = classify(makeLine(std::string(key) + "=" + value), eol);
        profile.lines.insert(profile.lines.begin() + std::ptrdiff_t(at.lastLineOfSection + 1),
                             entry);
    } else {
        endLastLine();
        profile.lines.push_back(classify(makeLine("[" + std::string(section) + "]"), eol));
        profile.lines.push_back(classify(makeLine(std::string(key) + "=" + value), eol));
    }

    std::string content(profile.byteOrderMark);
    content.reserve(old.size() + 64);
    for (const Line& line : profile.lines)
        content.append(line.body).append(line.ending);
    return content;
}

bool isStorable(std::string_view section, std::string_view key, const char* value) {
    section = trim(section);
    key = trim(key);
    const bool sectionOk = !hasLineBreak(section) && section.find(']') == section.npos;
    const bool keyOk = !key.empty() && !hasLineBreak(key) && key.find('=') == key.npos &&
                       key.front() != ';' && key.front() != '[';
    return sectionOk && keyOk && (!value || !hasLineBreak(value));
}

} // namespace profile

#include "player/ListUtils.h"

#include "platform/listing/DirectoryListing.h"

#include <QAbstractItemModel>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

constexpr qint64 kEventIntervalMs = 20;
constexpr int kNoGroup = -1;

// Alive flags over the original positions, answering "which original entry is now at position k"
// and "at which position is original entry j now" in O(log n).
class PositionTree {
public:
    explicit PositionTree(int count) : m_tree(std::size_t(count) + 1, 0) {
        for (int i = 1; i <= count; ++i) {
            m_tree[std::size_t(i)] += 1;
            const int parent = i + (i & -i);
            if (parent <= count)
                m_tree[std::size_t(parent)] += m_tree[std::size_t(i)];
        }
        for (m_topBit = 1; m_topBit * 2 <= count;)
            m_topBit *= 2;
    }

    void remove(int original) {
        for (int i = original + 1; i < int(m_tree.size()); i += i & -i)
            --m_tree[std::size_t(i)];
    }

    // Count of alive entries before `original`: its current position.
    int positionOf(int original) const {
        int position = 0;
        for (int i = original; i > 0; i -= i & -i)
            position += m_tree[std::size_t(i)];
        return position;
    }

    // The original index of the alive entry at current position `position` (which must exist).
    int originalAt(int position) const {
        int index = 0;
        int remaining = position + 1;
        for (int step = m_topBit; step > 0; step /= 2) {
            const int next = index + step;
            if (next < int(m_tree.size()) && m_tree[std::size_t(next)] < remaining) {
                index = next;
                remaining -= m_tree[std::size_t(next)];
            }
        }
        return index;
    }

private:
    std::vector<int> m_tree;
    int m_topBit = 1;
};

// The alive members of every group of equal entries, in original order. Each group's slots end
// with a sentinel, so "the first alive member at or after a slot" never runs into the next group.
class Groups {
public:
    Groups(const std::vector<int>& groupOf, int groupCount) : m_begin(std::size_t(groupCount) + 1) {
        std::vector<int> sizes(std::size_t(groupCount), 0);
        for (const int group : groupOf)
            if (group != kNoGroup)
                ++sizes[std::size_t(group)];
        for (int g = 0; g < groupCount; ++g)
            m_begin[std::size_t(g) + 1] = m_begin[std::size_t(g)] + sizes[std::size_t(g)] + 1;
        m_slots.assign(std::size_t(m_begin.back()), kSentinel);
        m_slotOf.assign(groupOf.size(), -1);
        std::vector<int> fill(m_begin.begin(), m_begin.end() - 1);
        for (int original = 0; original < int(groupOf.size()); ++original) {
            const int group = groupOf[std::size_t(original)];
            if (group == kNoGroup)
                continue;
            m_slotOf[std::size_t(original)] = fill[std::size_t(group)];
            m_slots[std::size_t(fill[std::size_t(group)]++)] = original;
        }
        m_next.resize(m_slots.size());
        for (std::size_t s = 0; s < m_next.size(); ++s)
            m_next[s] = int(s);
    }

    void remove(int original) {
        const int slot = m_slotOf[std::size_t(original)];
        m_next[std::size_t(slot)] = slot + 1;
    }

    // The first alive member of `group` at or after original index `from`, wrapping to the
    // group's first alive member; the group must have one.
    int firstFrom(int group, int from) {
        const auto begin = m_slots.begin() + m_begin[std::size_t(group)];
        const auto end = m_slots.begin() + m_begin[std::size_t(group) + 1] - 1;
        const int slot = int(std::lower_bound(begin, end, from) - m_slots.begin());
        int alive = aliveFrom(slot);
        if (m_slots[std::size_t(alive)] == kSentinel)
            alive = aliveFrom(m_begin[std::size_t(group)]);
        return m_slots[std::size_t(alive)];
    }

private:
    static constexpr int kSentinel = std::numeric_limits<int>::max();

    int aliveFrom(int slot) {
        int root = slot;
        while (m_next[std::size_t(root)] != root)
            root = m_next[std::size_t(root)];
        while (m_next[std::size_t(slot)] != root)
            slot = std::exchange(m_next[std::size_t(slot)], root);
        return root;
    }

    std::vector<int> m_begin; // first slot of each group; one more for the end
    std::vector<int> m_slots; // original indices, each group sorted, then its sentinel
    std::vector<int> m_slotOf;
    std::vector<int> m_next; // union-find towards the next alive slot
};

// Hashes an entry's case-folded code points, so that entries equal without regard to case hash
// alike (the list box folds code point by code point too); equality itself is the list box's.
class FoldedHash {
public:
    explicit FoldedHash(const QStringList& entries) : m_entries(entries) {}

    std::size_t operator()(qsizetype index) const {
        const QString& text = m_entries[index];
        std::size_t hash = 14695981039346656037ull; // FNV-1a
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char16_t unit = text[i].unicode();
            char32_t folded = unit >= u'A' && unit <= u'Z' ? char32_t(unit + 32) : unit;
            if (unit >= 0x80) {
                char32_t codePoint = unit;
                if (QChar::isHighSurrogate(unit) && i + 1 < text.size() &&
                    text[i + 1].isLowSurrogate())
                    codePoint = QChar::surrogateToUcs4(unit, text[++i].unicode());
                folded = QChar::toCaseFolded(codePoint);
            }
            hash = (hash ^ folded) * 1099511628211ull;
        }
        return hash;
    }

private:
    const QStringList& m_entries;
};

class SameEntry {
public:
    explicit SameEntry(const QStringList& entries) : m_entries(entries) {}
    bool operator()(qsizetype a, qsizetype b) const {
        return m_entries[a].compare(m_entries[b], Qt::CaseInsensitive) == 0;
    }

private:
    const QStringList& m_entries;
};

// Numbers the groups of entries that are equal without regard to case. Empty entries match
// nothing: kNoGroup.
std::vector<int> groupEntries(const QStringList& entries, int* groupCount,
                              const std::function<void()>& keepAlive) {
    std::vector<int> groupOf(std::size_t(entries.size()), kNoGroup);
    std::unordered_map<qsizetype, int, FoldedHash, SameEntry> groups(
        std::size_t(entries.size()), FoldedHash(entries), SameEntry(entries));
    for (qsizetype i = 0; i < entries.size(); ++i) {
        keepAlive();
        if (!entries[i].isEmpty())
            groupOf[std::size_t(i)] = groups.try_emplace(i, int(groups.size())).first->second;
    }
    *groupCount = int(groups.size());
    return groupOf;
}

struct DuplicateRemoval {
    QStringList kept;
    std::vector<bool> alive; // per original entry
    int removed = 0;

    // Where original entry `original` ends up, or -1 when it was removed (or is no entry).
    int positionOf(int original) const {
        if (original < 0 || original >= int(alive.size()) || !alive[std::size_t(original)])
            return -1;
        return int(std::count(alive.begin(), alive.begin() + original, true));
    }
};

// Replays the classic pass over a copy of the entries. The search of the list box: given k and a
// text, the first match starting at k + 1 (at 0 when that is outside the list), wrapping around.
class ClassicPass {
public:
    ClassicPass(const QStringList& entries, const std::function<void()>& keepAlive)
        : m_entries(entries), m_positions(int(entries.size())), m_keepAlive(keepAlive) {
        int groupCount = 0;
        m_groupOf = groupEntries(entries, &groupCount, keepAlive);
        m_groups = std::make_unique<Groups>(m_groupOf, groupCount);
        m_alive.assign(std::size_t(entries.size()), true);
        m_count = int(entries.size());
    }

    DuplicateRemoval run() {
        // The classic pass runs i up to the original last index; indexes past the shrunken end
        // read as the empty text and change nothing, so the pass may stop at the current end.
        for (int i = 0; i < m_count; ++i)
            thinGroupAt(i);
        DuplicateRemoval result;
        result.removed = int(m_entries.size()) - m_count;
        result.kept.reserve(m_count);
        for (qsizetype j = 0; j < m_entries.size(); ++j)
            if (m_alive[std::size_t(j)])
                result.kept << m_entries[j];
        result.alive = std::move(m_alive);
        return result;
    }

private:
    void thinGroupAt(int i) {
        for (;;) {
            m_keepAlive();
            if (i >= m_count)
                return; // an index past the end reads as the empty text, which matches nothing
            const int group = m_groupOf[std::size_t(m_positions.originalAt(i))];
            if (group == kNoGroup)
                return;
            const int b = search(i, group);
            const int e = search(b + 1, group);
            if (e == b)
                return;
            const int original = m_positions.originalAt(e);
            m_positions.remove(original);
            m_groups->remove(original);
            m_alive[std::size_t(original)] = false;
            --m_count;
        }
    }

    int search(int k, int group) {
        const int start = (k + 1 >= 0 && k + 1 < m_count) ? k + 1 : 0;
        const int from = m_positions.originalAt(start);
        return m_positions.positionOf(m_groups->firstFrom(group, from));
    }

    const QStringList& m_entries;
    PositionTree m_positions;
    std::function<void()> m_keepAlive;
    std::vector<int> m_groupOf;
    std::unique_ptr<Groups> m_groups;
    std::vector<bool> m_alive;
    int m_count = 0;
};

// Notes every change to a list's entries for as long as it lives.
class ChangeWatch {
public:
    explicit ChangeWatch(const ListBox& list) {
        const QAbstractItemModel* model = list.model();
        const auto note = [this] { m_changed = true; };
        QObject::connect(model, &QAbstractItemModel::rowsInserted, &m_receiver, note);
        QObject::connect(model, &QAbstractItemModel::rowsRemoved, &m_receiver, note);
        QObject::connect(model, &QAbstractItemModel::rowsMoved, &m_receiver, note);
        QObject::connect(model, &QAbstractItemModel::dataChanged, &m_receiver, note);
        QObject::connect(model, &QAbstractItemModel::layoutChanged, &m_receiver, note);
        QObject::connect(model, &QAbstractItemModel::modelReset, &m_receiver, note);
    }
    bool changed() const { return m_changed; }

private:
    QObject m_receiver; // disconnects everything when the watch goes
    bool m_changed = false;
};

DuplicateRemoval removeDuplicates(const QStringList& entries,
                                  const std::function<void()>& keepAlive) {
    if (entries.size() < 3)
        return {entries, std::vector<bool>(std::size_t(entries.size()), true), 0};
    return ClassicPass(entries, keepAlive).run();
}

} // namespace

void AddDirectoryFiles(ListBox& list, const QString& directory, const QString& pattern) {
    list.addItems(listing::listDirectory(directory + pattern, DDL_DIRECTORY | DDL_ARCHIVE));
}

void StripListExtension(ListBox& list, const QString& extension) {
    const qsizetype length = extension.size();
    if (length == 0)
        return;
    const QString wanted = extension.toUpper();
    const int count = list.listCount();
    for (int i = 0; i < count; ++i) {
        const QString entry = list.list(i);
        if (entry.right(length).toUpper() == wanted)
            list.setList(i, entry.left(entry.size() - length));
    }
}

qint16 RemoveDuplicateEntries(ListBox& list) {
    const QPointer<ListBox> guard(&list);
    const ChangeWatch watch(list);
    const QStringList before = list.items();
    QElapsedTimer sinceEvents;
    bool eventsDue = true;
    const std::function<void()> processEvents = [&] {
        if (eventsDue || sinceEvents.elapsed() >= kEventIntervalMs) {
            QCoreApplication::processEvents();
            sinceEvents.start();
            eventsDue = false;
        }
    };
    DuplicateRemoval result = removeDuplicates(before, processEvents);
    if (!guard)
        return 0;
    if (watch.changed())
        result = removeDuplicates(list.items(), [] {});
    if (result.removed > 0)
        list.setItems(result.kept, result.positionOf(list.listIndex()));
    return qint16(std::min(result.removed, int(std::numeric_limits<qint16>::max())));
}

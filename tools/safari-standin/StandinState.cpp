#include "StandinState.h"

#include "SafariBridge.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QVariant>

#include <algorithm>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

// Reads one JSON object member by member, rejecting members it does not know, so that a typo in a
// hand-written state is an error rather than a silently ignored fault.
class ObjectReader
{
public:
    ObjectReader(const QJsonValue &value, QString where) : m_object(value.toObject()), m_where(std::move(where))
    {
        if (!value.isObject())
            fail(QStringLiteral("must be an object"));
    }

    void allowOnly(std::initializer_list<QLatin1StringView> names) const
    {
        for (const QString &key : m_object.keys()) {
            if (std::find(names.begin(), names.end(), key) == names.end())
                fail(QStringLiteral("has an unknown member \"%1\"").arg(key));
        }
    }

    bool boolean(QLatin1StringView name, bool fallback) const
    {
        const QJsonValue value = m_object.value(name);
        if (value.isUndefined())
            return fallback;
        if (!value.isBool())
            failMember(name, QStringLiteral("true or false"));
        return value.toBool();
    }

    qint64 integer(QLatin1StringView name, std::optional<qint64> fallback) const
    {
        const QJsonValue value = m_object.value(name);
        if (value.isUndefined() && fallback)
            return *fallback;
        // The parser keeps whole numbers that fit 64 bits exact; anything else arrives as a double.
        if (value.toVariant().typeId() != QMetaType::LongLong)
            failMember(name, QStringLiteral("a whole number"));
        return value.toInteger();
    }

    QString string(QLatin1StringView name) const
    {
        const QJsonValue value = m_object.value(name);
        if (!value.isString())
            failMember(name, QStringLiteral("a string"));
        return value.toString();
    }

    bool has(QLatin1StringView name) const { return m_object.contains(name); }

    QString oneOf(QLatin1StringView name, const QString &fallback, const QStringList &choices) const
    {
        if (!has(name))
            return fallback;
        const QString value = string(name);
        if (!choices.contains(value))
            failMember(name, choices.join(QStringLiteral(" or ")));
        return value;
    }

    QJsonArray array(QLatin1StringView name) const
    {
        const QJsonValue value = m_object.value(name);
        if (!value.isArray())
            failMember(name, QStringLiteral("an array"));
        return value.toArray();
    }

private:
    [[noreturn]] void fail(const QString &problem) const
    {
        throw InvalidState(QStringLiteral("%1 %2").arg(m_where, problem));
    }
    [[noreturn]] void failMember(QLatin1StringView name, const QString &expected) const
    {
        fail(QStringLiteral("needs \"%1\" to be %2").arg(name, expected));
    }

    QJsonObject m_object;
    QString m_where;
};

StandinTab tabFromJson(const QJsonValue &value, const QString &where)
{
    const ObjectReader tab(value, where);
    tab.allowOnly({"url"_L1, "title"_L1, "closeFails"_L1, "unreadable"_L1});
    const QString url = tab.string("url"_L1);
    // Untitled like a tab opened with an address alone.
    const QString title = tab.has("title"_L1) ? tab.string("title"_L1) : url;
    return {url, title, tab.boolean("closeFails"_L1, false), tab.boolean("unreadable"_L1, false)};
}

StandinWindow windowFromJson(const QJsonValue &value, const QString &where)
{
    const ObjectReader reader(value, where);
    reader.allowOnly({"id"_L1, "current"_L1, "tabs"_L1});
    StandinWindow window{reader.integer("id"_L1, std::nullopt), reader.integer("current"_L1, 0), {}};
    const QJsonArray tabs = reader.array("tabs"_L1);
    for (qsizetype i = 0; i < tabs.size(); ++i)
        window.tabs.append(tabFromJson(tabs[i], QStringLiteral("tab %1 of %2").arg(i + 1).arg(where)));
    return window;
}

QList<StandinWindow> windowsFromJson(const QJsonArray &array)
{
    QList<StandinWindow> windows;
    QSet<qint64> ids;
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QString where = QStringLiteral("window %1").arg(i + 1);
        windows.append(windowFromJson(array[i], where));
        const qint64 id = windows.last().id;
        if (ids.contains(id))
            throw InvalidState(QStringLiteral("%1 repeats the id %2").arg(where).arg(id));
        ids.insert(id);
    }
    return windows;
}

QJsonObject toJson(const StandinTab &tab)
{
    return {{"url"_L1, tab.url}, {"title"_L1, tab.title}, {"closeFails"_L1, tab.closeFails},
            {"unreadable"_L1, tab.unreadable}};
}

QJsonObject toJson(const StandinWindow &window)
{
    QJsonArray tabs;
    for (const StandinTab &tab : window.tabs)
        tabs.append(toJson(tab));
    return {{"id"_L1, window.id}, {"current"_L1, window.current}, {"tabs"_L1, tabs}};
}

QList<StandinWindow>::iterator findWindow(QList<StandinWindow> &windows, qint64 id)
{
    return std::find_if(windows.begin(), windows.end(), [id](const StandinWindow &w) { return w.id == id; });
}

// The tab that takes a closed tab's place is the one after it, or the one before when it was last.
void keepCurrentTab(StandinWindow &window, qint64 closedIndex)
{
    if (window.current > window.tabs.size() + 1 || window.current < 1)
        return;
    if (closedIndex < window.current)
        --window.current;
    else if (closedIndex == window.current && window.current > window.tabs.size())
        window.current = window.tabs.size();
}

} // namespace

StandinState StandinState::fromJson(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        throw InvalidState(QStringLiteral("is not JSON: %1").arg(error.errorString()));
    if (!document.isObject())
        throw InvalidState(QStringLiteral("the state must be an object"));
    const ObjectReader reader(document.object(), QStringLiteral("the state"));
    reader.allowOnly({"running"_L1, "automation"_L1, "delayMs"_L1, "snapshotError"_L1, "windows"_L1});
    StandinState state;
    state.running = reader.boolean("running"_L1, true);
    state.automationDenied = reader.oneOf("automation"_L1, QStringLiteral("allowed"),
                                          {QStringLiteral("allowed"), QStringLiteral("denied")})
        == u"denied";
    state.delayMs = reader.integer("delayMs"_L1, 0);
    if (state.delayMs < 0)
        throw InvalidState(QStringLiteral("the state needs \"delayMs\" to be zero or more"));
    state.snapshotError = reader.integer("snapshotError"_L1, 0);
    state.windows = windowsFromJson(reader.array("windows"_L1));
    // A Safari that does not run has no windows, whatever the file lists.
    if (!state.running)
        state.windows.clear();
    return state;
}

QByteArray StandinState::toJson() const
{
    QJsonArray windowArray;
    for (const StandinWindow &window : windows)
        windowArray.append(::toJson(window));
    const QJsonObject object{
        {"running"_L1, running},
        {"automation"_L1, automationDenied ? "denied"_L1 : "allowed"_L1},
        {"delayMs"_L1, delayMs},
        {"snapshotError"_L1, snapshotError},
        {"windows"_L1, windowArray},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

void StandinState::start()
{
    running = true;
}

void StandinState::quit()
{
    running = false;
    windows.clear();
}

void StandinState::openTab(const QString &url, const QString &title)
{
    if (windows.isEmpty()) {
        // With no window left every id is free; Safari numbers from 1.
        windows.prepend(StandinWindow{1, 0, {}});
    }
    StandinWindow &front = windows.first();
    front.tabs.append(StandinTab{url, title});
    front.current = front.tabs.size();
}

bool StandinState::select(qint64 windowID, qint64 index)
{
    const auto window = findWindow(windows, windowID);
    if (window == windows.end() || index < 1 || index > window->tabs.size())
        return false;
    window->current = index;
    return true;
}

StandinState::CloseOutcome StandinState::closeTab(qint64 windowID, QStringView url, Qt::CaseSensitivity addressCase)
{
    const auto window = findWindow(windows, windowID);
    if (window == windows.end())
        return CloseOutcome::notFound;
    const auto tab = std::find_if(window->tabs.begin(), window->tabs.end(), [&](const StandinTab &t) {
        return QStringView(t.url).compare(url, addressCase) == 0;
    });
    if (tab == window->tabs.end())
        return CloseOutcome::notFound;
    if (tab->closeFails)
        return CloseOutcome::refused;
    const qint64 closedIndex = std::distance(window->tabs.begin(), tab) + 1;
    window->tabs.erase(tab);
    keepCurrentTab(*window, closedIndex);
    if (window->tabs.isEmpty())
        windows.erase(window);
    return CloseOutcome::closed;
}

QString StandinState::snapshotText() const
{
    QString text;
    for (const StandinWindow &window : windows) {
        for (qsizetype i = 0; i < window.tabs.size(); ++i) {
            const StandinTab &tab = window.tabs[i];
            if (tab.unreadable)
                continue;
            text += SafariScript::record(SafariTab(window.id, tab.url, tab.title), window.current == i + 1);
        }
    }
    return text;
}

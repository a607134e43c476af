#include "BenchData.h"

#include "Archive.h"

#include <QDate>
#include <QDir>
#include <QFile>

#include <array>
#include <stdexcept>

namespace BenchData {

namespace {

const QStringList words = {
    u"async"_qs,     u"build"_qs,     u"cache"_qs,    u"release"_qs,   u"notes"_qs,     u"memory"_qs,
    u"leak"_qs,      u"window"_qs,    u"swift"_qs,    u"python"_qs,    u"rust"_qs,      u"kernel"_qs,
    u"network"_qs,   u"timeout"_qs,   u"parser"_qs,   u"unicode"_qs,   u"layout"_qs,    u"render"_qs,
    u"garden"_qs,    u"recipe"_qs,    u"travel"_qs,   u"budget"_qs,    u"climate"_qs,   u"election"_qs,
    u"market"_qs,    u"review"_qs,    u"camera"_qs,   u"laptop"_qs,    u"coffee"_qs,    u"bicycle"_qs,
    u"history"_qs,   u"museum"_qs,    u"planet"_qs,   u"ocean"_qs,     u"mountain"_qs,  u"river"_qs,
    u"guide"_qs,     u"tutorial"_qs,  u"crash"_qs,    u"fix"_qs,       u"support"_qs,   u"update"_qs,
    u"library"_qs,   u"design"_qs,    u"pattern"_qs,  u"server"_qs,    u"client"_qs,    u"database"_qs,
    u"index"_qs,     u"query"_qs,     u"thread"_qs,   u"process"_qs,   u"signal"_qs,    u"editor"_qs,
    u"keyboard"_qs,  u"shortcut"_qs,  u"privacy"_qs,  u"security"_qs,  u"password"_qs,  u"backup"_qs,
    u"archive"_qs,   u"folder"_qs,    u"markdown"_qs, u"safari"_qs,    u"browser"_qs,   u"extension"_qs,
    u"football"_qs,  u"season"_qs,    u"concert"_qs,  u"festival"_qs,  u"weather"_qs,   u"forecast"_qs,
    u"startup"_qs,   u"funding"_qs,   u"interview"_qs, u"career"_qs,   u"salary"_qs,    u"housing"_qs,
    u"science"_qs,   u"quantum"_qs,   u"battery"_qs,  u"solar"_qs,     u"electric"_qs,  u"engine"_qs,
    u"café"_qs,      u"naïve"_qs,     u"résumé"_qs,   u"Zürich"_qs,    u"Übersicht"_qs, u"Kraków"_qs,
    u"São Paulo"_qs, u"東京"_qs,      u"Москва"_qs,   u"smörgåsbord"_qs,
};
const QStringList people = {
    u"alice"_qs, u"bkoster"_qs, u"chen-li"_qs, u"dmitri"_qs, u"evergreen"_qs, u"fionna"_qs,
    u"gopher"_qs, u"hanna-m"_qs, u"isaac"_qs, u"jrvs"_qs, u"kestrel"_qs, u"lumen"_qs,
};
const QStringList projects = {
    u"qtbase"_qs, u"swift-nio"_qs, u"tokio"_qs, u"react"_qs, u"llvm-project"_qs, u"neovim"_qs,
    u"home-assistant"_qs, u"ffmpeg"_qs, u"kubernetes"_qs, u"pandas"_qs, u"zig"_qs, u"sqlite"_qs,
};
const QStringList sections = {u"technology"_qs, u"world"_qs, u"science"_qs, u"business"_qs, u"culture"_qs, u"sport"_qs};
const QStringList months = {u"jan"_qs, u"feb"_qs, u"mar"_qs, u"apr"_qs, u"may"_qs, u"jun"_qs,
                            u"jul"_qs, u"aug"_qs, u"sep"_qs, u"oct"_qs, u"nov"_qs, u"dec"_qs};
const QString base36 = u"0123456789abcdefghijklmnopqrstuvwxyz"_qs;

QString pick(PageGenerator &random, const QStringList &list)
{
    return list[random.below(int(list.size()))];
}

QString capitalized(QString word)
{
    if (!word.isEmpty())
        word[0] = word[0].toUpper();
    return word;
}

// A few words joined by the separator, the first one capitalised where asked.
QString phrase(PageGenerator &random, int count, QStringView separator, bool capitalizeFirst)
{
    QStringList chosen;
    for (int i = 0; i < count; ++i)
        chosen.append(pick(random, words));
    if (capitalizeFirst)
        chosen[0] = capitalized(chosen[0]);
    return chosen.join(separator);
}

QString slug(PageGenerator &random, int count)
{
    return phrase(random, count, u"-", false).replace(u' ', u'-');
}

QString token(PageGenerator &random, int length)
{
    QString text;
    for (int i = 0; i < length; ++i)
        text += base36[random.below(int(base36.size()))];
    return text;
}

QString number(PageGenerator &random, int digits)
{
    QString text = QString::number(1 + random.below(9));
    for (int i = 1; i < digits; ++i)
        text += QChar(u'0' + random.below(10));
    return text;
}

Page codeIssue(PageGenerator &r)
{
    const QString owner = pick(r, people), repo = pick(r, projects), n = number(r, 5);
    return {u"%1 · Issue #%2 · %3/%4"_qs.arg(phrase(r, 5, u" ", true), n, owner, repo),
            u"https://github.com/%1/%2/issues/%3"_qs.arg(owner, repo, n)};
}

Page codeReview(PageGenerator &r)
{
    const QString owner = pick(r, people), repo = pick(r, projects), n = number(r, 5);
    return {u"%1 by %2 · Pull Request #%3 · %4"_qs.arg(phrase(r, 4, u" ", true), owner, n, repo),
            u"https://github.com/%1/%2/pull/%3/files#diff-%4"_qs.arg(owner, repo, n, token(r, 16))};
}

Page encyclopedia(PageGenerator &r)
{
    const QString topic = capitalized(pick(r, words)) + u' ' + pick(r, words);
    const QString kind = pick(r, words);
    return {u"%1 (%2) - Wikipedia"_qs.arg(topic, kind),
            u"https://en.wikipedia.org/wiki/%1_(%2)#%3"_qs.arg(QString(topic).replace(u' ', u'_'), kind, capitalized(pick(r, words)))};
}

Page question(PageGenerator &r)
{
    const QString what = phrase(r, 6, u" ", false);
    return {u"%1 - How do I %2? - Stack Overflow"_qs.arg(pick(r, projects), what),
            u"https://stackoverflow.com/questions/%1/%2"_qs.arg(number(r, 8), QString(what).replace(u' ', u'-'))};
}

Page video(PageGenerator &r)
{
    return {u"%1 (Live) - YouTube"_qs.arg(phrase(r, 6, u" ", true)),
            u"https://www.youtube.com/watch?v=%1&list=PL%2&t=%3s"_qs.arg(token(r, 11), token(r, 16), number(r, 3))};
}

Page news(PageGenerator &r)
{
    const QString section = pick(r, sections);
    return {u"%1 | %2 | The Guardian"_qs.arg(phrase(r, 7, u" ", true), capitalized(section)),
            u"https://www.theguardian.com/%1/2025/%2/%3/%4"_qs.arg(section, pick(r, months), number(r, 2), slug(r, 7))};
}

Page documentation(PageGenerator &r)
{
    const QString module = pick(r, words);
    return {u"%1 — %2 — Python 3.13 documentation"_qs.arg(module, phrase(r, 3, u" ", true)),
            u"https://docs.python.org/3/library/%1.html#%1.%2"_qs.arg(module, pick(r, words))};
}

Page shop(PageGenerator &r)
{
    const QString item = phrase(r, 4, u" ", true);
    return {u"Amazon.com: %1 : Electronics"_qs.arg(item),
            u"https://www.amazon.com/%1/dp/B0%2?ref=sr_1_%3"_qs.arg(QString(item).replace(u' ', u'-'), token(r, 8).toUpper(), number(r, 2))};
}

Page search(PageGenerator &r)
{
    const QString terms = phrase(r, 4, u" ", false);
    return {u"%1 - Google Search"_qs.arg(terms),
            u"https://www.google.com/search?q=%1&client=safari&rls=en&ie=UTF-8&oe=UTF-8"_qs.arg(QString(terms).replace(u' ', u'+'))};
}

Page forum(PageGenerator &r)
{
    const QString sub = pick(r, projects);
    return {u"%1 : r/%2"_qs.arg(phrase(r, 8, u" ", true), sub),
            u"https://www.reddit.com/r/%1/comments/%2/%3/"_qs.arg(sub, token(r, 6), slug(r, 5))};
}

using Site = Page (*)(PageGenerator &);
constexpr std::array<Site, 10> sites = {codeIssue, codeReview, encyclopedia, question, video,
                                        news, documentation, shop, search, forum};

QString fileName(int index, int snapshotEvery)
{
    const QDate day = QDate(2026, 3, 14).addDays(-index);
    if (index % snapshotEvery == 0)
        return u"all-tabs-%1-0930%2.md"_qs.arg(day.toString(u"yyyy-MM-dd")).arg(10 + index % 50);
    return day.toString(u"yyyy-MM-dd") + u".md"_qs;
}

// One file's text as the writers make it: a heading, a blank line, then the entries; a daily
// file's entries come in sweeps of a few dozen, each with its time of day.
QByteArray fileText(PageGenerator &random, const QString &name, int entries)
{
    const bool snapshot = name.startsWith(u"all-tabs-");
    QString text = snapshot ? u"# All open tabs — 2025-11-02 09:30\n\n"_qs
                            : u"# Swept tabs — %1\n\n"_qs.arg(name.chopped(3));
    QString suffix;
    for (int i = 0; i < entries; ++i) {
        if (!snapshot && i % 40 == 0)
            suffix = u" · %1:%2"_qs.arg(random.below(24), 2, 10, QChar(u'0')).arg(random.below(60), 2, 10, QChar(u'0'));
        const Page page = random.next();
        text += u"- [%1](%2)%3\n"_qs.arg(Archive::cleanTitle(SafariTab(0, page.url, page.title)), page.url, suffix);
    }
    return text.toUtf8();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

} // namespace

quint64 PageGenerator::random()
{
    // splitmix64: tiny, fast, and the same everywhere.
    quint64 z = (m_state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

Page PageGenerator::next()
{
    return sites[below(int(sites.size()))](*this);
}

SafariSnapshot snapshot(int tabCount, int tabsPerWindow, quint64 seed)
{
    PageGenerator random(seed);
    SafariSnapshot result;
    result.tabs.reserve(tabCount);
    for (int i = 0; i < tabCount; ++i) {
        const qint64 window = 4711 + i / tabsPerWindow;
        Page page = random.next();
        SafariTab tab(window, std::move(page.url), std::move(page.title));
        if (i % tabsPerWindow == 0)
            result.activeKeys.insert(tab.key());
        result.tabs.append(std::move(tab));
    }
    return result;
}

QString snapshotText(const SafariSnapshot &snapshot)
{
    QString text;
    for (const SafariTab &tab : snapshot.tabs)
        text += SafariScript::record(tab, snapshot.activeKeys.contains(tab.key()));
    return text;
}

QStringList neverSweepPatterns(int count)
{
    const QStringList favourites = {
        u"mail.google.com"_qs, u"calendar"_qs, u"localhost:"_qs, u"192.168."_qs, u"Bank"_qs,
        u"notion.so"_qs, u"figma.com/file"_qs, u"docs.google.com/spreadsheets"_qs, u"jira"_qs,
        u"grafana"_qs, u"1password"_qs, u"icloud.com"_qs,
    };
    PageGenerator random(7);
    QStringList patterns;
    for (int i = 0; i < count; ++i)
        patterns.append(i < favourites.size() ? favourites[i] : u"%1.%2.example"_qs.arg(pick(random, words), pick(random, words)));
    return patterns;
}

qint64 writeArchive(const QString &folder, int fileCount, int entriesPerFile)
{
    if (!QDir().mkpath(folder))
        throw std::runtime_error("cannot create " + folder.toStdString());
    PageGenerator random(2026);
    for (int i = 0; i < fileCount; ++i) {
        const QString name = fileName(i, 10);
        writeFile(folder + u'/' + name, fileText(random, name, entriesPerFile));
    }
    return qint64(fileCount) * entriesPerFile;
}

QString archiveFor(bool smoke, const QString &given, const QString &scratch)
{
    if (!smoke)
        return given;
    const QString folder = scratch + u"/archive"_qs;
    writeArchive(folder, 12, 150);
    return folder;
}

QStringList archiveFiles(const QString &folder)
{
    const QDir dir(folder);
    QStringList paths;
    for (const QString &name : dir.entryList({u"*.md"_qs}, QDir::Files, QDir::Name))
        paths.append(dir.filePath(name));
    return paths;
}

} // namespace BenchData

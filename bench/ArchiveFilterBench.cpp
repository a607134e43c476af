// One keystroke in the archive browser's search field, until the list has painted the entries
// that match, against grep counting the matching lines of one file that holds the same lines.
// Each keystroke is the first after the archive was read, the one that costs most.
#include "ArchiveBrowser.h"
#include "BenchData.h"
#include "BenchModel.h"
#include "BenchSupport.h"
#include "PaintWatch.h"

#include <QFile>
#include <QLineEdit>
#include <QListView>

#include <stdexcept>

namespace {

// The archive's lines, all in one file, for grep.
void concatenate(const QStringList &files, const QString &path)
{
    QFile joined(path);
    if (!joined.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write " + path.toStdString());
    for (const QString &file : files) {
        QFile part(file);
        if (!part.open(QIODevice::ReadOnly) || joined.write(part.readAll()) < 0)
            throw std::runtime_error("cannot copy " + file.toStdString());
    }
}

// The archive window, shown with every entry loaded.
struct SearchWindow
{
    ArchiveBrowserController windows;
    QLineEdit *field = nullptr;
    QListView *list = nullptr;

    explicit SearchWindow(DrowsewickModel &model)
    {
        windows.show(model);
        field = windows.window()->findChild<QLineEdit *>(QStringLiteral("searchField"));
        list = windows.window()->findChild<QListView *>(QStringLiteral("archiveList"));
    }

    void typeUntilPainted(const QString &text)
    {
        PaintWatch::runUntilPainted([&] { field->setText(text); }, [&] { return list->viewport(); });
    }

    // The window as the reload button leaves it: the archive read again and nothing searched yet,
    // so that the next keystroke is the first to search these entries.
    void reloadWithoutQuery()
    {
        typeUntilPainted(QString());
        PaintWatch::runUntilPainted([&] { windows.window()->reload(); }, [&] { return list->viewport(); });
    }
};

Bench::Comparison keystroke(SearchWindow &window, const QString &query, const QString &lines, int repetitions)
{
    const QStringList grep = {QStringLiteral("-c"), QStringLiteral("-i"), QStringLiteral("-F"), query, lines};
    Bench::Comparison best;
    for (int i = 0; i < repetitions; ++i) {
        window.reloadWithoutQuery();
        best.figure = std::min(best.figure, Bench::seconds([&] { window.typeUntilPainted(query); }));
        best.floor = std::min(best.floor, Bench::seconds([&] {
            Bench::runCommand(QStringLiteral("grep"), grep, {QStringLiteral("LC_ALL=C.UTF-8")});
        }));
    }
    return best;
}

Bench::Row row(const QString &query, qsizetype entries, const Bench::Comparison &keystroke)
{
    return {.hotPath = QStringLiteral("archive-browser filter, one keystroke"),
            .data = Bench::count(entries) + QStringLiteral(" entries, query “") + query + QStringLiteral("” (")
                + QString::number(query.size()) + (query.size() == 1 ? QStringLiteral(" character)") : QStringLiteral(" characters)")),
            .figure = Bench::duration(keystroke.figure),
            .floor = Bench::duration(keystroke.floor) + QStringLiteral(" `grep -c -i -F`"),
            .ratio = Bench::ratio(keystroke.ratio()),
            .target = QStringLiteral("≤ 1.5× the floor"),
            .holds = keystroke.ratio() <= 1.5};
}

} // namespace

int main(int argc, char *argv[])
{
    BenchModel::ArchiveWindowBench bench(argc, argv);
    const Bench::Arguments &arguments = bench.arguments;
    const QString lines = bench.home.path() + QStringLiteral("/all-lines.md");
    concatenate(BenchData::archiveFiles(bench.folder), lines);
    SearchWindow window(bench.model());
    const qsizetype entries = window.list->model()->rowCount();

    QList<bool> holds;
    // A letter that nearly every entry holds, a part of a host name, and two words of a title.
    for (const QString &query : {QStringLiteral("e"), QStringLiteral("git"), QStringLiteral("pull request")}) {
        const Bench::Row result = row(query, entries, keystroke(window, query, lines, arguments.smoke ? 1 : 7));
        Bench::print(result, arguments);
        holds.append(result.holds);
    }
    return Bench::exitStatus(holds, arguments);
}

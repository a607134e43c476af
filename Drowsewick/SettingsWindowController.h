#pragma once

#include <QStringList>
#include <QWidget>

#include <memory>

class DrowsewickModel;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QToolButton;
class QVBoxLayout;

// The row that adds a never-sweep pattern, typed or picked from the sites open in Safari. What is
// typed stays while the window is hidden.
class NeverSweepAdd : public QWidget
{
    Q_OBJECT

public:
    explicit NeverSweepAdd(DrowsewickModel &model, QWidget *parent = nullptr);

    // Offers the hosts of the latest snapshot; the menu button is there only while there are some.
    void showOpenSites();

private:
    void add();
    void enableAdd();

    DrowsewickModel &m_model;
    QLineEdit *m_text;
    QPushButton *m_add;
    QToolButton *m_openSite;
};

// The settings window's content. Every control writes through to the controller at once, and the
// content follows every change the controller announces.
class SettingsView : public QWidget
{
    Q_OBJECT

public:
    explicit SettingsView(DrowsewickModel &model, QWidget *parent = nullptr);

protected:
    void showEvent(QShowEvent *event) override;

private:
    class Stepper;
    class PathLabel;

    QWidget *makeSweepingSection();
    QWidget *makeNeverSweepSection();
    QWidget *makeArchiveSection();
    QWidget *makeAboutSection();
    QLabel *makeLink(const QString &text, const char *url);
    QWidget *makePatternRow(const QString &pattern);

    void showSettings();
    void showOpenAtLogin();
    void showPatterns(QStringList patterns);
    void setDays(qint64 days);
    void setIntervalMinutes(qint64 minutes);

    DrowsewickModel &m_model;
    Stepper *m_days = nullptr;
    Stepper *m_interval = nullptr;
    QCheckBox *m_pause = nullptr;
    QCheckBox *m_openAtLogin = nullptr;
    QScrollArea *m_patternList = nullptr;
    QVBoxLayout *m_patternRows = nullptr;
    QStringList m_shownPatterns;
    NeverSweepAdd *m_addRow = nullptr;
    PathLabel *m_folder = nullptr;
};

// Owns the one settings window: made on the first show(), then only hidden and shown again.
class SettingsWindowController
{
public:
    SettingsWindowController();
    ~SettingsWindowController();

    // The application's one instance.
    static SettingsWindowController &shared();

    // Brings the window to the front, making it on first use for this controller. The window
    // stays on the controller it was made with.
    void show(DrowsewickModel &model);
    // The window, once show() has made it.
    SettingsView *window() const { return m_window.get(); }

private:
    std::unique_ptr<SettingsView> m_window;
};

#include "Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

#include <utility>

namespace {

// Qt's dialogs, which are the native panels where the platform has them.
class WidgetDialogs : public Dialogs
{
public:
    // A menu-bar application has no window of its own to bring forward, so the next dialog does
    // it: raising a window is what activates the application on macOS.
    void activateApplication() override { m_bringToFront = true; }

    int alert(const Alert &alert) override
    {
        QMessageBox box;
        box.setIcon(QMessageBox::Information);
        box.setText(alert.message);
        box.setInformativeText(alert.informative);
        QList<QAbstractButton *> buttons;
        for (const QString &title : alert.buttons)
            buttons.append(box.addButton(title, buttons.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
        present(box);
        box.exec();
        const qsizetype index = buttons.indexOf(box.clickedButton());
        return firstButton + int(std::max<qsizetype>(index, 0));
    }

    std::optional<QString> chooseFolder(const QString &startFolder, const QString &prompt, const QString &message) override
    {
        QFileDialog dialog(nullptr, message, startFolder);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        dialog.setLabelText(QFileDialog::Accept, prompt);
        present(dialog);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().first();
    }

private:
    // In front only when asked for; otherwise exec() shows it without taking the focus.
    void present(QWidget &dialog)
    {
        if (!std::exchange(m_bringToFront, false)) {
            dialog.setAttribute(Qt::WA_ShowWithoutActivating);
            return;
        }
        dialog.show();
        dialog.raise();
        dialog.activateWindow();
    }

    bool m_bringToFront = false;
};

} // namespace

std::unique_ptr<Dialogs> Dialogs::createForPlatform()
{
    return std::make_unique<WidgetDialogs>();
}

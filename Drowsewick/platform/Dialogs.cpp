#include "Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {

// Qt's dialogs, which are the native panels where the platform has them.
class WidgetDialogs : public Dialogs
{
public:
    void activateApplication() override
    {
        if (QWidget *window = QApplication::activeWindow())
            window->activateWindow();
    }

    int alert(const Alert &alert) override
    {
        QMessageBox box;
        box.setIcon(QMessageBox::Information);
        box.setText(alert.message);
        box.setInformativeText(alert.informative);
        QList<QAbstractButton *> buttons;
        for (const QString &title : alert.buttons)
            buttons.append(box.addButton(title, buttons.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
        showInFront(box);
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
        showInFront(dialog);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return std::nullopt;
        return dialog.selectedFiles().first();
    }

private:
    static void showInFront(QWidget &dialog)
    {
        dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
        dialog.show();
        dialog.raise();
        dialog.activateWindow();
    }
};

} // namespace

std::unique_ptr<Dialogs> Dialogs::createForPlatform()
{
    return std::make_unique<WidgetDialogs>();
}

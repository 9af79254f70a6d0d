#include "filedialog.h"

#include <QFileDialog>

#include <utility>

namespace common {

namespace {

struct ScriptedAnswer {
    bool pending = false;
    std::optional<QString> fileName;  // nothing: cancelled
};

ScriptedAnswer& scripted() {
    static ScriptedAnswer next;
    return next;
}

}  // namespace

std::optional<QString> getOpenFileName(QWidget* parent, const QString& title, const QString& filter,
                                       const QString& defaultSuffix) {
    if (scripted().pending) {
        scripted().pending = false;
        return std::exchange(scripted().fileName, std::nullopt);
    }
    QFileDialog dialog(parent, title, QString(), filter);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

void setNextFileName(std::optional<QString> fileName) {
    scripted() = {true, std::move(fileName)};
}

void resetFileDialogHook() {
    scripted() = {};
}

}  // namespace common

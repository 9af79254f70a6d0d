#include "fields.h"

#include "settings/options.h"
#include "settings/store.h"
#include "ui/common/messageboxes.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>

namespace common {

namespace {

QStringList rememberedMachines() {
    const app::Result<QStringList> machines = settings::Machines();
    report(machines);
    return machines.value();
}

}  // namespace

void FillMachines(QListWidget* list) {
    list->clear();
    list->addItems(rememberedMachines());
}

void FillMachines(QComboBox* combo) {
    combo->clear();
    combo->addItems(rememberedMachines());
    combo->setCurrentIndex(-1);
}

void FillProtocols(QComboBox* list) {
    for (const QString& name : settings::kProtocolNames)
        list->addItem(QCoreApplication::translate("settings", name.toUtf8().constData()));
    list->setCurrentIndex(0);
}

void FillAuthLevels(QComboBox* list) {
    for (const QString& name : settings::kAuthLevelNames)
        list->addItem(QCoreApplication::translate("settings", name.toUtf8().constData()));
    list->setCurrentIndex(0);
}

void SelectAllText(QLineEdit* edit) {
    edit->setSelection(0, int(edit->text().size()));
}

void SelectAllText(QComboBox* combo) {
    if (QLineEdit* edit = combo->lineEdit())
        SelectAllText(edit);
}

}  // namespace common

#include "simplecombo.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>

namespace common {

SimpleCombo::SimpleCombo(QWidget* parent)
    : QWidget(parent), m_edit(new QLineEdit(this)), m_list(new QListWidget(this)) {
    m_list->setFocusPolicy(Qt::NoFocus);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setUniformItemSizes(true);
    setFocusProxy(m_edit);
    setFocusPolicy(Qt::StrongFocus);
    m_edit->installEventFilter(this);

    connect(m_edit, &QLineEdit::textChanged, this, &SimpleCombo::textChanged);
    // Typing selects the entry that holds exactly the typed name, if any.
    connect(m_edit, &QLineEdit::textEdited, this, &SimpleCombo::selectMatching);
    connect(m_list, &QListWidget::itemPressed, this, [this](QListWidgetItem* item) {
        m_edit->setFocus(Qt::MouseFocusReason);
        pick(m_list->row(item));
    });
    connect(m_list, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { Q_EMIT itemDoubleClicked(m_list->row(item)); });
}

QString SimpleCombo::text() const {
    return m_edit->text();
}

void SimpleCombo::setText(const QString& text) {
    m_edit->setText(text);
}

void SimpleCombo::clear() {
    m_list->clear();
    m_edit->clear();
}

void SimpleCombo::addItem(const QString& text) {
    m_list->addItem(text);
}

// At once: a long list fills in a fraction of the time of one entry after
// another.
void SimpleCombo::addItems(const QStringList& texts) {
    m_list->addItems(texts);
}

void SimpleCombo::removeItem(int index) {
    delete m_list->takeItem(index);
}

int SimpleCombo::count() const {
    return m_list->count();
}

QString SimpleCombo::itemText(int index) const {
    const QListWidgetItem* item = m_list->item(index);
    return item ? item->text() : QString();
}

int SimpleCombo::currentIndex() const {
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    return selected.isEmpty() ? -1 : m_list->row(selected.first());
}

void SimpleCombo::setCurrentIndex(int index) {
    m_list->clearSelection();
    if (QListWidgetItem* item = m_list->item(index)) {
        m_list->setCurrentItem(item);
        item->setSelected(true);
        m_list->scrollToItem(item);
    } else {
        m_list->setCurrentItem(nullptr);
    }
}

void SimpleCombo::pick(int index) {
    if (index < 0 || index >= m_list->count())
        return;
    setCurrentIndex(index);
    m_edit->setText(m_list->item(index)->text());
    m_edit->selectAll();
    Q_EMIT itemClicked(index);
}

void SimpleCombo::selectMatching(const QString& text) {
    for (int i = 0; i < m_list->count(); ++i) {
        if (m_list->item(i)->text().compare(text, Qt::CaseInsensitive) == 0) {
            setCurrentIndex(i);
            return;
        }
    }
    setCurrentIndex(-1);
}

bool SimpleCombo::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_edit && event->type() == QEvent::KeyPress && m_list->count() > 0) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const int current = currentIndex();
        const int page =
            qMax(1, m_list->viewport()->height() / qMax(1, m_list->sizeHintForRow(0)) - 1);
        int next = -2;
        if (key == Qt::Key_Down)
            next = current + 1;
        else if (key == Qt::Key_Up)
            next = current < 0 ? 0 : current - 1;
        else if (key == Qt::Key_PageDown)
            next = current + page;
        else if (key == Qt::Key_PageUp)
            next = current - page;
        if (next != -2) {
            pick(qBound(0, next, m_list->count() - 1));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void SimpleCombo::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int editHeight = m_edit->sizeHint().height();
    m_edit->setGeometry(0, 0, width(), editHeight);
    m_list->setGeometry(0, editHeight, width(), qMax(0, height() - editHeight));
}

}  // namespace common

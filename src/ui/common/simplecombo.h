#pragma once

#include <QWidget>

class QLineEdit;
class QListWidget;

namespace common {

// A simple combo box: an edit field with its list always open below it. The
// edit field takes the focus; the list follows the keyboard (Up, Down, Page Up,
// Page Down) and the mouse. Picking an entry puts its text in the edit field.
class SimpleCombo : public QWidget {
    Q_OBJECT
public:
    explicit SimpleCombo(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(SimpleCombo)

    QString text() const;
    void setText(const QString& text);

    // Removes every list entry and clears the text.
    void clear();
    void addItem(const QString& text);
    void addItems(const QStringList& texts);
    void removeItem(int index);
    int count() const;
    QString itemText(int index) const;

    // The selected list entry, -1 when none is selected.
    int currentIndex() const;
    void setCurrentIndex(int index);

    QLineEdit* lineEdit() const { return m_edit; }
    QListWidget* listWidget() const { return m_list; }

Q_SIGNALS:
    // Any change of the edit field's text, by the user or by the program.
    void textChanged(const QString& text);
    // An entry was picked with the mouse or the keyboard.
    void itemClicked(int index);
    void itemDoubleClicked(int index);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void pick(int index);
    void selectMatching(const QString& text);

    QLineEdit* m_edit;
    QListWidget* m_list;
};

}  // namespace common

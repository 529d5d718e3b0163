#pragma once
// Data-aware controls: each shows one field of a data source's current record and, when
// editable, writes the typed text back into it.
//
// Typing into a control first asks its data link to put the dataset into edit state
// (through the data source, so AutoEdit applies); if that is refused the key is dropped.
// The typed text reaches the field when the dataset asks for it (UpdateRecord, which
// Post and every move run), when Enter is pressed, and when the control loses the focus.
// A field that refuses the text (a conversion error) reports it in the error box and
// the focus stays in the control. Esc puts the field's value back.

#include "platform/db/DataSet.h"
#include "platform/forms/StdCtrls.h"

namespace rpt {

// The link between a data-aware control and one field of its data source.
class TFieldDataLink : public TDataLink {
public:
    TFieldDataLink() = default;

    QString FieldName() const { return m_fieldName; }
    void SetFieldName(const QString &name);
    // The bound field of the open dataset; null when the name is empty or unknown or
    // the dataset is closed.
    TField *Field() const { return m_field; }
    // The field exists, can be written, and neither link nor field is read-only.
    bool CanModify() const;
    // Asks for edit state when the field can be modified; true when editing afterwards.
    bool EditField();
    // True while the dataset edits and the field can be modified.
    bool FieldEditing() const { return m_editing; }
    bool Modified() const { return m_modified; }
    void Modified_() { m_modified = true; }
    void SetModified(bool m) { m_modified = m; }
    // Shows the field's value again, dropping the typed text.
    void Reset();

    std::function<void()> OnDataChange;
    std::function<void()> OnEditingChange;
    std::function<void()> OnUpdateData;
    std::function<void()> OnActiveChange;

protected:
    void ActiveChanged() override;
    void EditingChanged() override;
    void LayoutChanged() override;
    void RecordChanged(TField *field) override;
    void UpdateData() override;

private:
    void updateField();
    void updateEditing();
    QString m_fieldName;
    QPointer<TField> m_field;
    bool m_editing = false;
    bool m_modified = false;
};

// ---------------------------------------------------------------------------------------
class TDBEdit : public TEdit {
    Q_OBJECT
public:
    explicit TDBEdit(QWidget *parent = nullptr, const QString &name = QString());
    ~TDBEdit() override;

    TDataSource *DataSource() const { return m_link.DataSource(); }
    void SetDataSource(TDataSource *ds);
    QString DataField() const { return m_link.FieldName(); }
    void SetDataField(const QString &name);
    TField *Field() const { return m_link.Field(); }
    bool ReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool r);
    // Own limit in bytes; 0 takes the field's size for string fields.
    void SetMaxLength(int bytes);
    // The limit in force (bytes of code page 950; 0 = none).
    int EffectiveMaxLength() const { return m_validator->MaxBytes; }

    // Pushes typed text into the field now (what the dataset's UpdateRecord does).
    void UpdateRecord() { m_link.UpdateRecord(); }
    TFieldDataLink &DataLink() { return m_link; }

protected:
    bool BeforeUserEdit() override;
    bool UserEditStarted() const override { return m_link.FieldEditing(); }
    void UserChanged() override;
    void keyPressEvent(QKeyEvent *e) override;
    void focusInEvent(QFocusEvent *e) override;
    void focusOutEvent(QFocusEvent *e) override;

private:
    void dataChange();
    void editingChange();
    void updateData();
    void updateReadOnly();
    TFieldDataLink m_link;
    bool m_readOnly = false;
    int m_ownMaxLength = 0;
};

// ---------------------------------------------------------------------------------------
// Drop-down combo box on a field: any text can be typed, Items offers fixed choices.
class TDBComboBox : public TComboBox {
    Q_OBJECT
public:
    explicit TDBComboBox(QWidget *parent = nullptr, const QString &name = QString());
    ~TDBComboBox() override;

    TDataSource *DataSource() const { return m_link.DataSource(); }
    void SetDataSource(TDataSource *ds);
    QString DataField() const { return m_link.FieldName(); }
    void SetDataField(const QString &name);
    TField *Field() const { return m_link.Field(); }
    bool ReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool r);
    void UpdateRecord() { m_link.UpdateRecord(); }
    TFieldDataLink &DataLink() { return m_link; }

protected:
    bool BeforeUserEdit() override;
    bool UserEditStarted() const override { return m_link.FieldEditing(); }
    void UserChanged() override;
    void keyPressEvent(QKeyEvent *e) override;
    void focusOutEvent(QFocusEvent *e) override;

private:
    void dataChange();
    void updateData();
    void updateReadOnly();
    TFieldDataLink m_link;
    bool m_readOnly = false;
};

// ---------------------------------------------------------------------------------------
// Multi-line text of a field (memo fields included); wraps words, no scroll bars by default.
class TDBMemo : public TMemo {
    Q_OBJECT
public:
    explicit TDBMemo(QWidget *parent = nullptr, const QString &name = QString());
    ~TDBMemo() override;

    TDataSource *DataSource() const { return m_link.DataSource(); }
    void SetDataSource(TDataSource *ds);
    QString DataField() const { return m_link.FieldName(); }
    void SetDataField(const QString &name);
    TField *Field() const { return m_link.Field(); }
    bool ReadOnly() const { return m_readOnly; }
    void SetReadOnly(bool r);
    void UpdateRecord() { m_link.UpdateRecord(); }
    TFieldDataLink &DataLink() { return m_link; }

protected:
    bool BeforeUserEdit() override;
    bool UserEditStarted() const override { return m_link.FieldEditing(); }
    void UserChanged() override;
    void keyPressEvent(QKeyEvent *e) override;
    void focusInEvent(QFocusEvent *e) override;
    void focusOutEvent(QFocusEvent *e) override;

private:
    void dataChange();
    void updateData();
    void updateReadOnly();
    TFieldDataLink m_link;
    bool m_readOnly = false;
};

// ---------------------------------------------------------------------------------------
// Read-only text: the field's display text of the current record.
class TDBText : public TLabel {
    Q_OBJECT
public:
    explicit TDBText(QWidget *parent = nullptr, const QString &name = QString());
    ~TDBText() override;

    TDataSource *DataSource() const { return m_link.DataSource(); }
    void SetDataSource(TDataSource *ds);
    QString DataField() const { return m_link.FieldName(); }
    void SetDataField(const QString &name);
    TField *Field() const { return m_link.Field(); }
    QString Text() const { return m_text; }

protected:
    QString DisplayText() const override { return m_text; }

private:
    void dataChange();
    TFieldDataLink m_link;
    QString m_text;
};

} // namespace rpt

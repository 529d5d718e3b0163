#include "platform/forms/DBCtrls.h"

#include <QKeyEvent>

namespace rpt {

// ---- TFieldDataLink -----------------------------------------------------------------------

void TFieldDataLink::SetFieldName(const QString &name)
{
    if (name == m_fieldName)
        return;
    m_fieldName = name;
    updateField();
}

void TFieldDataLink::updateField()
{
    TField *f = nullptr;
    // An unknown name leaves the control empty rather than failing the dataset's open.
    if (Active() && !m_fieldName.isEmpty())
        if (TDataSet *ds = DataSet())
            f = ds->FindField(m_fieldName);
    m_field = f;
    updateEditing();
    RecordChanged(nullptr);
}

void TFieldDataLink::updateEditing()
{
    const bool editing = Editing() && CanModify();
    if (editing != m_editing) {
        m_editing = editing;
        if (OnEditingChange)
            OnEditingChange();
    }
}

bool TFieldDataLink::CanModify() const
{
    return !ReadOnly() && m_field && m_field->CanModify();
}

bool TFieldDataLink::EditField()
{
    if (CanModify())
        Edit();
    updateEditing();
    return m_editing;
}

void TFieldDataLink::Reset() { RecordChanged(nullptr); }

void TFieldDataLink::ActiveChanged()
{
    updateField();
    if (OnActiveChange)
        OnActiveChange();
}

void TFieldDataLink::EditingChanged() { updateEditing(); }

void TFieldDataLink::LayoutChanged() { updateField(); }

void TFieldDataLink::RecordChanged(TField *field)
{
    if (field && field != m_field)
        return;
    if (OnDataChange)
        OnDataChange();
    m_modified = false;
}

void TFieldDataLink::UpdateData()
{
    if (!m_modified)
        return;
    if (m_field && OnUpdateData)
        OnUpdateData();
    m_modified = false;
}

namespace {
void unhook(TFieldDataLink &l)
{
    l.OnDataChange = nullptr;
    l.OnEditingChange = nullptr;
    l.OnUpdateData = nullptr;
    l.OnActiveChange = nullptr;
    l.SetDataSource(nullptr);
}

// Memos edit with the platform's line breaks.
QString toPlatformLines(const QString &s)
{
    QString t = s;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return t;
}

QString toEditorLines(const QString &s)
{
    QString t = s;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return t;
}
} // namespace

// ---- TDBEdit ------------------------------------------------------------------------------

TDBEdit::TDBEdit(QWidget *parent, const QString &name) : TEdit(parent, name)
{
    m_link.OnDataChange = [this] { dataChange(); };
    m_link.OnEditingChange = [this] { updateReadOnly(); };
    m_link.OnUpdateData = [this] { updateData(); };
    m_link.OnActiveChange = [this] { updateReadOnly(); };
    updateReadOnly();
}

TDBEdit::~TDBEdit() { unhook(m_link); }

void TDBEdit::SetDataSource(TDataSource *ds)
{
    m_link.SetDataSource(ds);
    dataChange();
}

void TDBEdit::SetDataField(const QString &name)
{
    m_link.SetFieldName(name);
    dataChange();
}

void TDBEdit::SetReadOnly(bool r)
{
    m_readOnly = r;
    m_link.SetReadOnly(r);
    updateReadOnly();
}

void TDBEdit::SetMaxLength(int bytes)
{
    m_ownMaxLength = qMax(0, bytes);
    dataChange();
}

void TDBEdit::dataChange()
{
    TField *f = m_link.Field();
    int limit = m_ownMaxLength;
    if (limit == 0 && f && isStringType(f->DataType()))
        limit = f->Size();   // bytes of the ANSI text, whatever the field stores
    m_validator->MaxBytes = limit;
    QString t;
    if (f)
        t = (hasFocus() && m_link.CanModify()) ? f->Text() : f->DisplayText();
    setTextQuietly(t);
    setModified(false);
    updateReadOnly();
}

void TDBEdit::editingChange() { updateReadOnly(); }

void TDBEdit::updateReadOnly() { setReadOnly(m_readOnly || !m_link.CanModify()); }

void TDBEdit::updateData()
{
    if (TField *f = m_link.Field())
        f->SetText(text());
}

bool TDBEdit::BeforeUserEdit() { return m_link.EditField(); }

void TDBEdit::UserChanged() { m_link.Modified_(); }

void TDBEdit::keyPressEvent(QKeyEvent *e)
{
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier && m_link.Modified()) {
        m_link.Reset();
        selectAll();
        e->accept();
        return;
    }
    if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && m_link.Modified()) {
        if (!guarded([this] { m_link.UpdateRecord(); }, this)) {
            selectAll();
            e->accept();
            return;
        }
    }
    TEdit::keyPressEvent(e);
}

void TDBEdit::focusInEvent(QFocusEvent *e)
{
    TEdit::focusInEvent(e);
    // The edit text can differ from the display text (formatted numbers).
    if (!m_link.Modified())
        dataChange();
}

void TDBEdit::focusOutEvent(QFocusEvent *e)
{
    if (!guarded([this] { m_link.UpdateRecord(); }, this)) {
        // The field refused the text: the user corrects it here.
        selectAll();
        setFocus(Qt::OtherFocusReason);
        return;
    }
    TEdit::focusOutEvent(e);
    if (!m_link.Modified())
        dataChange();
}

// ---- TDBComboBox --------------------------------------------------------------------------

TDBComboBox::TDBComboBox(QWidget *parent, const QString &name) : TComboBox(parent, name)
{
    m_link.OnDataChange = [this] { dataChange(); };
    m_link.OnEditingChange = [this] { updateReadOnly(); };
    m_link.OnUpdateData = [this] { updateData(); };
    m_link.OnActiveChange = [this] { updateReadOnly(); };
    updateReadOnly();
}

TDBComboBox::~TDBComboBox() { unhook(m_link); }

void TDBComboBox::SetDataSource(TDataSource *ds)
{
    m_link.SetDataSource(ds);
    dataChange();
}

void TDBComboBox::SetDataField(const QString &name)
{
    m_link.SetFieldName(name);
    dataChange();
}

void TDBComboBox::SetReadOnly(bool r)
{
    m_readOnly = r;
    m_link.SetReadOnly(r);
    updateReadOnly();
}

void TDBComboBox::dataChange()
{
    TField *f = m_link.Field();
    setTextQuietly(f ? f->Text() : QString());
    updateReadOnly();
}

void TDBComboBox::updateReadOnly()
{
    const bool ro = m_readOnly || !m_link.CanModify();
    if (QLineEdit *le = lineEdit())
        le->setReadOnly(ro);
}

void TDBComboBox::updateData()
{
    if (TField *f = m_link.Field())
        f->SetText(currentText());
}

bool TDBComboBox::BeforeUserEdit() { return m_link.EditField(); }

void TDBComboBox::UserChanged() { m_link.Modified_(); }

void TDBComboBox::keyPressEvent(QKeyEvent *e)
{
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier && m_link.Modified()) {
        m_link.Reset();
        if (QLineEdit *le = lineEdit())
            le->selectAll();
        e->accept();
        return;
    }
    if ((e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) && m_link.Modified()) {
        if (!guarded([this] { m_link.UpdateRecord(); }, this)) {
            e->accept();
            return;
        }
    }
    TComboBox::keyPressEvent(e);
}

void TDBComboBox::focusOutEvent(QFocusEvent *e)
{
    if (!guarded([this] { m_link.UpdateRecord(); }, this)) {
        setFocus(Qt::OtherFocusReason);
        return;
    }
    TComboBox::focusOutEvent(e);
}

// ---- TDBMemo ------------------------------------------------------------------------------

TDBMemo::TDBMemo(QWidget *parent, const QString &name) : TMemo(parent, name)
{
    m_link.OnDataChange = [this] { dataChange(); };
    m_link.OnEditingChange = [this] { updateReadOnly(); };
    m_link.OnUpdateData = [this] { updateData(); };
    m_link.OnActiveChange = [this] { updateReadOnly(); };
    updateReadOnly();
}

TDBMemo::~TDBMemo() { unhook(m_link); }

void TDBMemo::SetDataSource(TDataSource *ds)
{
    m_link.SetDataSource(ds);
    dataChange();
}

void TDBMemo::SetDataField(const QString &name)
{
    m_link.SetFieldName(name);
    dataChange();
}

void TDBMemo::SetReadOnly(bool r)
{
    m_readOnly = r;
    m_link.SetReadOnly(r);
    updateReadOnly();
}

void TDBMemo::dataChange()
{
    TField *f = m_link.Field();
    QString t;
    if (f) {
        if (isBlobType(f->DataType()))
            t = f->AsString();
        else
            t = (hasFocus() && m_link.CanModify()) ? f->Text() : f->DisplayText();
    }
    setTextQuietly(toEditorLines(t));
    updateReadOnly();
}

void TDBMemo::updateReadOnly() { setReadOnly(m_readOnly || !m_link.CanModify()); }

void TDBMemo::updateData()
{
    if (TField *f = m_link.Field())
        f->SetText(toPlatformLines(toPlainText()));
}

bool TDBMemo::BeforeUserEdit() { return m_link.EditField(); }

void TDBMemo::UserChanged() { m_link.Modified_(); }

void TDBMemo::keyPressEvent(QKeyEvent *e)
{
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier && m_link.Modified()) {
        m_link.Reset();
        selectAll();
        e->accept();
        return;
    }
    TMemo::keyPressEvent(e);
}

void TDBMemo::focusInEvent(QFocusEvent *e)
{
    TMemo::focusInEvent(e);
    if (!m_link.Modified())
        dataChange();
}

void TDBMemo::focusOutEvent(QFocusEvent *e)
{
    if (!guarded([this] { m_link.UpdateRecord(); }, this)) {
        selectAll();
        setFocus(Qt::OtherFocusReason);
        return;
    }
    TMemo::focusOutEvent(e);
    if (!m_link.Modified())
        dataChange();
}

// ---- TDBText ------------------------------------------------------------------------------

TDBText::TDBText(QWidget *parent, const QString &name) : TLabel(parent, name)
{
    SetAutoSize(false);
    SetShowAccelChar(false);
    resize(65, 17);
    m_link.OnDataChange = [this] { dataChange(); };
}

TDBText::~TDBText() { unhook(m_link); }

void TDBText::SetDataSource(TDataSource *ds)
{
    m_link.SetDataSource(ds);
    dataChange();
}

void TDBText::SetDataField(const QString &name)
{
    m_link.SetFieldName(name);
    dataChange();
}

void TDBText::dataChange()
{
    TField *f = m_link.Field();
    m_text = f ? f->DisplayText() : QString();
    adjustBounds();
    update();
}

} // namespace rpt

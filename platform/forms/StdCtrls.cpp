#include "platform/forms/StdCtrls.h"

#include "platform/forms/Form.h"
#include "platform/text/CodePage.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QMimeData>
#include <QPainter>

namespace rpt {

namespace {

// Keys with which the user changes the text of an edit box.
bool isEditingKey(const QKeyEvent *e, bool multiLine)
{
    if (e->matches(QKeySequence::Paste) || e->matches(QKeySequence::Cut) || e->matches(QKeySequence::Undo)
        || e->matches(QKeySequence::Redo) || e->matches(QKeySequence::Delete)
        || e->matches(QKeySequence::DeleteStartOfWord) || e->matches(QKeySequence::DeleteEndOfWord))
        return true;
    switch (e->key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        return true;
    case Qt::Key_Insert:
        return e->modifiers() & Qt::ShiftModifier;   // Shift+Insert pastes
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return multiLine;
    default:
        break;
    }
    if (e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QString t = e->text();
    return !t.isEmpty() && t.at(0).isPrint();
}

int hAlign(TAlignment a)
{
    switch (a) {
    case taRightJustify: return Qt::AlignRight;
    case taCenter: return Qt::AlignHCenter;
    default: return Qt::AlignLeft;
    }
}

// Longest prefix of s whose code page 950 form takes at most maxBytes; characters are
// never split and are kept as typed.
QString fitPrefix(const QString &s, qsizetype maxBytes)
{
    qsizetype used = 0;
    qsizetype i = 0;
    while (i < s.size()) {
        const qsizetype len = (s.at(i).isHighSurrogate() && i + 1 < s.size()) ? 2 : 1;
        const qsizetype w = cp950::byteLength(QStringView(s).mid(i, len));
        if (used + w > maxBytes)
            break;
        used += w;
        i += len;
    }
    return s.left(i);
}

} // namespace

// ---- TLabel -------------------------------------------------------------------------------

TLabel::TLabel(QWidget *parent, const QString &name) : TControlT<QWidget>(parent)
{
    setObjectName(name);
    m_parentColor = true;
    resize(32, 13);
}

void TLabel::SetCaption(const QString &c)
{
    m_caption = c;
    adjustBounds();
    update();
}

void TLabel::SetAutoSize(bool a)
{
    m_autoSize = a;
    adjustBounds();
}

void TLabel::SetWordWrap(bool w)
{
    m_wordWrap = w;
    adjustBounds();
    update();
}

void TLabel::SetTransparent(bool t)
{
    m_transparent = t;
    ApplyColor();
}

void TLabel::SetShowAccelChar(bool s)
{
    m_showAccel = s;
    adjustBounds();
    update();
}

int TLabel::textFlags() const
{
    int f = hAlign(m_alignment);
    switch (m_layout) {
    case tlCenter: f |= Qt::AlignVCenter; break;
    case tlBottom: f |= Qt::AlignBottom; break;
    default: f |= Qt::AlignTop; break;
    }
    f |= m_wordWrap ? Qt::TextWordWrap : Qt::TextSingleLine;
    if (m_showAccel)
        f |= Qt::TextShowMnemonic;
    return f;
}

QSize TLabel::sizeHint() const
{
    const QFontMetrics fm(font());
    const QString t = DisplayText();
    const int wrapWidth = m_wordWrap ? qMax(1, width()) : 100000;
    QRect r = fm.boundingRect(QRect(0, 0, wrapWidth, 100000), textFlags() & ~(Qt::AlignVCenter | Qt::AlignBottom), t.isEmpty() ? QStringLiteral(" ") : t);
    return QSize(t.isEmpty() ? 0 : r.width(), r.height());
}

void TLabel::adjustBounds()
{
    if (!m_autoSize)
        return;
    const QSize s = sizeHint();
    if (m_alignment == taRightJustify && !m_wordWrap) {
        const int right = x() + width();
        setBounds(this, right - s.width(), y(), s.width(), s.height());
    } else {
        setBounds(this, x(), y(), m_wordWrap ? width() : s.width(), s.height());
    }
}

void TLabel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    const QString t = DisplayText();
    if (t.isEmpty())
        return;
    p.setFont(font());
    const int flags = textFlags();
    if (!isEnabled()) {
        p.setPen(toQColor(clBtnHighlight));
        p.drawText(rect().translated(1, 1), flags, t);
        p.setPen(toQColor(clBtnShadow));
        p.drawText(rect(), flags, t);
        return;
    }
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(rect(), flags, t);
}

void TLabel::mouseReleaseEvent(QMouseEvent *e)
{
    TControlT<QWidget>::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()) && OnClick)
        guarded([&] { OnClick(this); }, this);
}

void TLabel::mouseDoubleClickEvent(QMouseEvent *e)
{
    TControlT<QWidget>::mouseDoubleClickEvent(e);
    if (OnDblClick)
        guarded([&] { OnDblClick(this); }, this);
}

// ---- byte limit ---------------------------------------------------------------------------

bool TAnsiLengthValidator::fitInsertion(const QString &before, QString &text, int &cursor, int maxBytes)
{
    if (maxBytes <= 0 || cp950::byteLength(text) <= maxBytes)
        return true;
    const int n = int(text.size());
    const int m = int(before.size());
    cursor = qBound(0, cursor, n);
    int a = 0;
    while (a < m && a < n && a < cursor && before.at(a) == text.at(a))
        ++a;
    int b = 0;
    while (b < m - a && b < n - a && n - b > cursor && before.at(m - 1 - b) == text.at(n - 1 - b))
        ++b;
    const QString inserted = text.mid(a, n - b - a);
    if (inserted.isEmpty())
        return true;   // only deletions: the text got shorter
    const QString head = text.left(a);
    const QString tail = text.right(b);
    const qsizetype room = maxBytes - cp950::byteLength(QString(head + tail));
    if (room <= 0)
        return false;
    const QString fit = fitPrefix(inserted, room);
    if (fit.isEmpty())
        return false;
    text = head + fit + tail;
    cursor = int(head.size() + fit.size());
    return true;
}

QValidator::State TAnsiLengthValidator::validate(QString &input, int &pos) const
{
    if (MaxBytes <= 0)
        return Acceptable;
    QString t = input;
    int c = pos;
    if (!fitInsertion(previous, t, c, MaxBytes))
        return Invalid;
    input = t;
    pos = c;
    return Acceptable;
}

// ---- TEdit --------------------------------------------------------------------------------

TEdit::TEdit(QWidget *parent, const QString &name) : TControlT<QLineEdit>(parent)
{
    setObjectName(name);
    m_color = clWindow;
    m_parentColor = false;
    ApplyColor();
    resize(121, 21);
    m_validator = new TAnsiLengthValidator(this);
    setValidator(m_validator);
    connect(this, &QLineEdit::textChanged, this, &TEdit::onTextChanged);
    connect(this, &QLineEdit::textEdited, this, &TEdit::onTextEdited);
}

void TEdit::SetText(const QString &t) { setText(t); }

void TEdit::setTextQuietly(const QString &t)
{
    if (text() != t)
        setText(t);
}

void TEdit::SetMaxLength(int bytes) { m_validator->MaxBytes = qMax(0, bytes); }

void TEdit::keyPressEvent(QKeyEvent *e)
{
    std::unique_ptr<QKeyEvent> repl;
    if (!DispatchKeyDown(e, &repl))
        return;
    QKeyEvent *k = repl ? repl.get() : e;
    if (!isReadOnly() && isEditingKey(k, false)) {
        bool ok = false;
        QPointer<TEdit> self(this);
        guarded([&] { ok = BeforeUserEdit(); }, this);
        if (!self)
            return;
        if (!ok) {
            QApplication::beep();
            e->accept();
            return;
        }
        m_inKey = true;
        QLineEdit::keyPressEvent(k);
        m_inKey = false;
        return;
    }
    QLineEdit::keyPressEvent(k);
}

void TEdit::onTextChanged(const QString &t)
{
    m_lastText = t;
    m_validator->previous = t;
    Change();
}

void TEdit::onTextEdited(const QString &t)
{
    if (!m_inKey && !UserEditStarted()) {
        // A change that did not come through a key (a paste from the menu, a drop):
        // start the edit now, then put the user's text back.
        const int cursor = cursorPosition();
        bool ok = false;
        guarded([&] { ok = BeforeUserEdit(); }, this);
        if (!ok) {
            QApplication::beep();
            return;
        }
        if (text() != t) {
            setText(t);
            setCursorPosition(cursor);
        }
    }
    guarded([&] { UserChanged(); }, this);
}

void TEdit::Change()
{
    if (OnChange)
        guarded([&] { OnChange(this); }, this);
}

// ---- TMemo --------------------------------------------------------------------------------

TMemo::TMemo(QWidget *parent, const QString &name) : TControlT<QPlainTextEdit>(parent)
{
    setObjectName(name);
    m_color = clWindow;
    m_parentColor = false;
    ApplyColor();
    resize(185, 89);
    setTabChangesFocus(true);
    SetWordWrap(true);
    SetScrollBars(ssNone);
    connect(this, &QPlainTextEdit::textChanged, this, &TMemo::onTextChanged);
}

void TMemo::SetText(const QString &t)
{
    m_settingText = true;
    setPlainText(t);
    m_settingText = false;
}

void TMemo::setTextQuietly(const QString &t)
{
    if (toPlainText() != t)
        SetText(t);
}

void TMemo::SetWordWrap(bool w)
{
    m_wordWrap = w;
    setLineWrapMode(w ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
}

void TMemo::SetScrollBars(TScrollStyle s)
{
    m_scrollBars = s;
    setHorizontalScrollBarPolicy((s == ssHorizontal || s == ssBoth) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy((s == ssVertical || s == ssBoth) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
}

void TMemo::keyPressEvent(QKeyEvent *e)
{
    std::unique_ptr<QKeyEvent> repl;
    if (!DispatchKeyDown(e, &repl))
        return;
    QKeyEvent *k = repl ? repl.get() : e;
    if (!isReadOnly() && isEditingKey(k, true)) {
        bool ok = false;
        QPointer<TMemo> self(this);
        guarded([&] { ok = BeforeUserEdit(); }, this);
        if (!self)
            return;
        if (!ok) {
            QApplication::beep();
            e->accept();
            return;
        }
    }
    QPlainTextEdit::keyPressEvent(k);
}

void TMemo::insertFromMimeData(const QMimeData *source)
{
    if (!UserEditStarted()) {
        bool ok = false;
        guarded([&] { ok = BeforeUserEdit(); }, this);
        if (!ok) {
            QApplication::beep();
            return;
        }
    }
    QPlainTextEdit::insertFromMimeData(source);
}

void TMemo::onTextChanged()
{
    if (!m_settingText)
        guarded([&] { UserChanged(); }, this);
    if (OnChange)
        guarded([&] { OnChange(this); }, this);
}

// ---- TComboBox ----------------------------------------------------------------------------

TComboBox::TComboBox(QWidget *parent, const QString &name) : TControlT<QComboBox>(parent)
{
    setObjectName(name);
    m_color = clWindow;
    m_parentColor = false;
    ApplyColor();
    resize(145, 21);
    SetStyle(csDropDown);
    connect(this, &QComboBox::activated, this, &TComboBox::onActivated);
    connect(this, &QComboBox::editTextChanged, this, &TComboBox::onEditTextChanged);
}

void TComboBox::SetStyle(TComboBoxStyle s)
{
    m_style = s;
    const QString keep = currentText();
    setEditable(s != csDropDownList);
    if (isEditable()) {
        setInsertPolicy(QComboBox::NoInsert);
        setCompleter(nullptr);
    }
    setTextQuietly(keep);
}

QStringList TComboBox::Items() const
{
    QStringList out;
    for (int i = 0; i < count(); ++i)
        out << itemText(i);
    return out;
}

void TComboBox::SetItems(const QStringList &items)
{
    const QString keep = currentText();
    m_settingText = true;
    clear();
    addItems(items);
    m_settingText = false;
    SetText(keep);
}

void TComboBox::SetText(const QString &t)
{
    m_settingText = true;
    const int idx = findText(t, Qt::MatchExactly | Qt::MatchCaseSensitive);
    setCurrentIndex(idx);
    if (isEditable())
        setEditText(t);
    m_settingText = false;
    m_lastText = currentText();
}

void TComboBox::setTextQuietly(const QString &t)
{
    if (currentText() != t || (currentIndex() < 0) != (findText(t, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0))
        SetText(t);
}

void TComboBox::keyPressEvent(QKeyEvent *e)
{
    std::unique_ptr<QKeyEvent> repl;
    if (!DispatchKeyDown(e, &repl))
        return;
    QKeyEvent *k = repl ? repl.get() : e;
    if (isEditable() && isEditingKey(k, false)) {
        bool ok = false;
        QPointer<TComboBox> self(this);
        guarded([&] { ok = BeforeUserEdit(); }, this);
        if (!self)
            return;
        if (!ok) {
            QApplication::beep();
            e->accept();
            return;
        }
    }
    QComboBox::keyPressEvent(k);
}

void TComboBox::onActivated(int index)
{
    const QString chosen = itemText(index);
    if (!UserEditStarted()) {
        bool ok = false;
        guarded([&] { ok = BeforeUserEdit(); }, this);
        if (!ok) {
            QApplication::beep();
            SetText(m_lastText);
            return;
        }
        SetText(chosen);
    }
    m_lastText = currentText();
    guarded([&] { UserChanged(); }, this);
    if (OnChange)
        guarded([&] { OnChange(this); }, this);
}

void TComboBox::onEditTextChanged(const QString &t)
{
    if (m_settingText)
        return;
    if (!UserEditStarted())
        return;   // a choice from the list: onActivated decides whether it may stay
    m_lastText = t;
    guarded([&] { UserChanged(); }, this);
    if (OnChange)
        guarded([&] { OnChange(this); }, this);
}

// ---- TButton ------------------------------------------------------------------------------

TButton::TButton(QWidget *parent, const QString &name) : TControlT<QPushButton>(parent)
{
    setObjectName(name);
    resize(75, 25);
    setAutoDefault(false);
    connect(this, &QPushButton::clicked, this, [this] { guarded([this] { Click(); }, this); });
}

void TButton::Click()
{
    if (auto *form = qobject_cast<TForm *>(window()))
        form->SetModalResult(m_modalResult);
    if (OnClick)
        OnClick(this);
}

} // namespace rpt

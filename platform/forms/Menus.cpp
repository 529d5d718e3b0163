#include "platform/forms/Menus.h"

#include <QAction>
#include <QMenu>

namespace rpt {

// ---- TMenuItem ----------------------------------------------------------------------------

TMenuItem::TMenuItem(QObject *owner, const QString &name) : TComponent(owner, name) {}

TMenuItem::~TMenuItem()
{
    if (m_parentItem)
        m_parentItem->m_items.removeAll(this);
    delete m_action;
}

void TMenuItem::SetCaption(const QString &c)
{
    m_caption = c;
    sync();
}

void TMenuItem::SetEnabled(bool e)
{
    m_enabled = e;
    sync();
}

void TMenuItem::SetVisible(bool v)
{
    m_visible = v;
    sync();
}

void TMenuItem::SetChecked(bool c)
{
    m_checked = c;
    sync();
}

void TMenuItem::Click()
{
    if (!m_enabled)
        return;
    // A copy: the handler may replace itself (a control coupling the item).
    if (TNotifyEvent handler = OnClick)
        handler(this);
}

void TMenuItem::Add(TMenuItem *item)
{
    if (!item || m_items.contains(item))
        return;
    if (item->m_parentItem)
        item->m_parentItem->Remove(item);
    item->m_parentItem = this;
    m_items << item;
}

void TMenuItem::Remove(TMenuItem *item)
{
    if (!item)
        return;
    m_items.removeAll(item);
    if (item->m_parentItem == this)
        item->m_parentItem = nullptr;
}

QAction *TMenuItem::action()
{
    if (!m_action) {
        m_action = new QAction(nullptr);
        QObject::connect(m_action, &QAction::triggered, this, [this] { guarded([this] { Click(); }, this); });
        sync();
    }
    return m_action;
}

void TMenuItem::sync()
{
    if (!m_action)
        return;
    m_action->setSeparator(m_caption == QLatin1String("-"));
    m_action->setText(m_caption);
    m_action->setEnabled(m_enabled);
    m_action->setVisible(m_visible);
    m_action->setCheckable(m_checked);
    m_action->setChecked(m_checked);
    m_action->setStatusTip(Hint);
}

// ---- TPopupMenu ---------------------------------------------------------------------------

TPopupMenu::TPopupMenu(QObject *owner, const QString &name)
    : TComponent(owner, name), m_root(new TMenuItem(this))
{
}

TPopupMenu::~TPopupMenu()
{
    delete m_menu.data();
}

TMenuItem *TPopupMenu::AddItem(const QString &name, const QString &caption, TNotifyEvent onClick)
{
    auto *item = new TMenuItem(Owner() ? Owner() : this, name);
    item->SetCaption(caption);
    item->OnClick = std::move(onClick);
    Add(item);
    return item;
}

void TPopupMenu::rebuild(QMenu *menu, TMenuItem *parent)
{
    menu->clear();
    for (int i = 0; i < parent->Count(); ++i) {
        TMenuItem *item = parent->Items(i);
        if (!item)
            continue;
        if (item->Count() > 0) {
            QMenu *sub = menu->addMenu(item->Caption());
            sub->setEnabled(item->Enabled());
            rebuild(sub, item);
        } else {
            menu->addAction(item->action());
        }
    }
}

QMenu *TPopupMenu::menu()
{
    if (!m_menu) {
        m_menu = new QMenu();
        m_menu->setObjectName(Name());
    }
    rebuild(m_menu, m_root);
    return m_menu;
}

void TPopupMenu::Popup(int x, int y)
{
    if (OnPopup)
        OnPopup(this);
    QMenu *m = menu();
    if (m_popupComponent)
        m->setFont(m_popupComponent->font());
    m->popup(QPoint(x, y));
}

} // namespace rpt

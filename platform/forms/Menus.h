#pragma once
// Popup menus and their items. A control whose PopupMenu is set opens it on a right
// click (Controls.h). Item clicks run guarded, like every other event.

#include "platform/db/DataSet.h"
#include "platform/forms/Controls.h"

#include <QPointer>

class QAction;
class QMenu;

namespace rpt {

class TPopupMenu;

class TMenuItem : public TComponent {
    Q_OBJECT
public:
    explicit TMenuItem(QObject *owner = nullptr, const QString &name = QString());
    ~TMenuItem() override;

    // "&" marks the access key; "-" alone makes a separator.
    QString Caption() const { return m_caption; }
    void SetCaption(const QString &c);
    bool Enabled() const { return m_enabled; }
    void SetEnabled(bool e);
    bool Visible() const { return m_visible; }
    void SetVisible(bool v);
    bool Checked() const { return m_checked; }
    void SetChecked(bool c);
    QString Hint;
    int Tag = 0;

    // The click handler; readable and replaceable (a control may hook it and restore it).
    TNotifyEvent OnClick;

    // Runs OnClick when the item is enabled. Exceptions reach the caller.
    virtual void Click();

    // Sub-items.
    void Add(TMenuItem *item);
    void Remove(TMenuItem *item);
    int Count() const { return int(m_items.size()); }
    TMenuItem *Items(int i) const { return m_items.value(i); }
    TMenuItem *Parent() const { return m_parentItem; }

    // The Qt action that shows the item (created on demand).
    QAction *action();

private:
    void sync();
    QString m_caption;
    bool m_enabled = true;
    bool m_visible = true;
    bool m_checked = false;
    QList<QPointer<TMenuItem>> m_items;
    QPointer<TMenuItem> m_parentItem;
    QAction *m_action = nullptr;
};

class TPopupMenu : public TComponent {
    Q_OBJECT
public:
    explicit TPopupMenu(QObject *owner = nullptr, const QString &name = QString());
    ~TPopupMenu() override;

    TMenuItem *Items() const { return m_root; }
    // Adds a top-level item (owned by the menu's owner when it has none).
    void Add(TMenuItem *item) { m_root->Add(item); }
    // Convenience: a new item with a name, caption and click handler.
    TMenuItem *AddItem(const QString &name, const QString &caption, TNotifyEvent onClick = {});

    bool AutoPopup = true;
    TNotifyEvent OnPopup;

    // Opens the menu at a screen position without waiting for a choice.
    void Popup(int x, int y);
    // The control the menu was last opened for.
    QWidget *PopupComponent() const { return m_popupComponent; }
    void SetPopupComponent(QWidget *w) { m_popupComponent = w; }
    // The menu widget (built on demand); visible while the menu is open.
    QMenu *menu();

private:
    void rebuild(QMenu *menu, TMenuItem *parent);
    TMenuItem *m_root;
    QPointer<QMenu> m_menu;
    QPointer<QWidget> m_popupComponent;
};

} // namespace rpt

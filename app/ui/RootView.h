#pragma once

#include "AppModel.h"

#include <QPointer>
#include <QWidget>

#include <array>

class QLabel;
class QListWidget;
class QMessageBox;
class QStackedWidget;

namespace veyra::ui {

class AuthenticationView;
class CheckoutView;
class MembershipView;
class SymbolLabel;

// The main window's content: the account bar, then what the account may use (the landing page
// signed out, the membership page without a membership, the sidebar and its five pages for a
// member); it also hosts the sign-in and checkout sheets and the alert for the whole window.
// Pages are built the first time they are shown.
class RootView : public QWidget {
    Q_OBJECT
public:
    explicit RootView(AppModel &model, QWidget *parent = nullptr);

    // The sidebar's name of a page ("首页", "节点", ...).
    static QString pageTitle(AppPage page);
    // Puts the focus in the nodes page's search field when that page is shown; false when not.
    bool focusNodeSearch();

    // The page widget for `page` in the member application, built on first use.
    QWidget *page(AppPage page);
    QWidget *currentContent() const;
    QMessageBox *alert() const;
    AuthenticationView *authenticationSheet() const;
    CheckoutView *checkoutSheet() const;

private:
    QWidget *buildMemberApplication();
    void render();
    void renderSheets();
    void renderAlert();

    AppModel &m_model;
    QStackedWidget *m_content;
    QWidget *m_landing = nullptr;
    MembershipView *m_membershipOnly = nullptr;
    QWidget *m_memberApplication = nullptr;
    QListWidget *m_sidebar = nullptr;
    QStackedWidget *m_pages = nullptr;
    std::array<QWidget *, 5> m_pageWidgets {};
    SymbolLabel *m_protection = nullptr;
    QLabel *m_sidebarAccount = nullptr;
    QPointer<AuthenticationView> m_authentication;
    QPointer<CheckoutView> m_checkout;
    QPointer<QMessageBox> m_alert;
};

} // namespace veyra::ui

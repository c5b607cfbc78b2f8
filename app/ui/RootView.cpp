#include "RootView.h"

#include "AccountAccessBar.h"
#include "AccountView.h"
#include "AuthenticationView.h"
#include "CheckoutView.h"
#include "DashboardView.h"
#include "Icons.h"
#include "LoggedOutLandingView.h"
#include "MembershipView.h"
#include "NodesView.h"
#include "SectionCard.h"
#include "SettingsView.h"
#include "SymbolLabel.h"
#include "Theme.h"

#include <QEvent>
#include <QLabel>
#include <QListWidget>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace veyra::ui {

namespace {

    struct PageEntry {
        AppPage page;
        const char *title;
        const char *symbol;
    };
    constexpr std::array<PageEntry, 5> pageEntries { {
        { AppPage::dashboard, "首页", "house" },
        { AppPage::nodes, "节点", "point.3.connected.trianglepath.dotted" },
        { AppPage::membership, "会员", "crown" },
        { AppPage::account, "个人中心", "person.crop.circle" },
        { AppPage::settings, "设置", "gearshape" },
    } };

    int indexOf(AppPage page) { return static_cast<int>(page); }

    // Opens a sheet (if there is one) while its flag is set, and hides it when the flag is cleared.
    void showWhile(QDialog *sheet, bool shown)
    {
        if (!sheet)
            return;
        if (shown && !sheet->isVisible())
            sheet->open();
        else if (!shown && sheet->isVisible())
            sheet->hide();
    }

    // One line that ends in "…" when the column is too narrow for it.
    class ElidedLabel : public QLabel {
    public:
        using QLabel::QLabel;
        void setFullText(const QString &text)
        {
            m_full = text;
            setToolTip(text);
            setAccessibleName(text);
            refit();
        }
        QSize minimumSizeHint() const override { return { 0, QLabel::minimumSizeHint().height() }; }

    protected:
        void resizeEvent(QResizeEvent *event) override
        {
            QLabel::resizeEvent(event);
            refit();
        }
        void changeEvent(QEvent *event) override
        {
            QLabel::changeEvent(event);
            if (event->type() == QEvent::FontChange)
                refit();
        }

    private:
        void refit()
        {
            const QString shown = fontMetrics().elidedText(m_full, Qt::ElideRight, std::max(width(), 1));
            if (shown != text())
                setText(shown);
        }
        QString m_full;
    };

    // The sidebar's icons are as tall as its text, at every interface scale.
    class SidebarList : public QListWidget {
    public:
        using QListWidget::QListWidget;

    protected:
        void changeEvent(QEvent *event) override
        {
            QListWidget::changeEvent(event);
            if (event->type() == QEvent::FontChange)
                fit();
        }
        void showEvent(QShowEvent *event) override
        {
            QListWidget::showEvent(event);
            fit();
        }

    private:
        void fit()
        {
            const int line = fontMetrics().height();
            setIconSize(QSize(line, line));
            for (int row = 0; row < count(); ++row)
                item(row)->setSizeHint(QSize(0, line + theme::unit * 2));
        }
    };

} // namespace

RootView::RootView(AppModel &model, QWidget *parent)
    : QWidget(parent)
    , m_model(model)
    , m_content(new QStackedWidget(this))
{
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(new AccountAccessBar(model, this));
    column->addWidget(makeDivider(this));
    column->addWidget(m_content, 1);

    QObject::connect(&m_model, &AppModel::stateChanged, this, &RootView::render);
    QObject::connect(&m_model, &AppModel::selectedPageChanged, this, &RootView::render);
    QObject::connect(&m_model, &AppModel::showAuthenticationChanged, this, &RootView::renderSheets);
    QObject::connect(&m_model, &AppModel::showCheckoutChanged, this, &RootView::renderSheets);
    QObject::connect(&m_model, &AppModel::alertMessageChanged, this, &RootView::renderAlert);
    render();
    renderSheets();
    renderAlert();
}

QWidget *RootView::currentContent() const { return m_content->currentWidget(); }
QMessageBox *RootView::alert() const { return m_alert; }
AuthenticationView *RootView::authenticationSheet() const { return m_authentication; }
CheckoutView *RootView::checkoutSheet() const { return m_checkout; }

QWidget *RootView::buildMemberApplication()
{
    // A split view: the sidebar column can be dragged between 164 and 210 wide.
    auto *application = new QSplitter(Qt::Horizontal, m_content);
    application->setChildrenCollapsible(false);
    application->setHandleWidth(1);

    auto *sidebar = new QWidget(application);
    sidebar->setObjectName(QStringLiteral("SidebarPanel"));
    sidebar->setMinimumWidth(164);
    sidebar->setMaximumWidth(210);
    auto *sidebarColumn = new QVBoxLayout(sidebar);
    sidebarColumn->setContentsMargins(theme::unit, theme::unit * 2, theme::unit, theme::unit * 2);
    sidebarColumn->setSpacing(theme::unit);

    m_sidebar = new SidebarList(sidebar);
    m_sidebar->setObjectName(QStringLiteral("Sidebar"));
    m_sidebar->setAccessibleName(QStringLiteral("页面"));
    m_sidebar->setSpacing(1);
    m_sidebar->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (const PageEntry &entry : pageEntries) {
        auto *item = new QListWidgetItem(symbolIcon(QString::fromLatin1(entry.symbol)), QString::fromUtf8(entry.title));
        m_sidebar->addItem(item);
    }
    QObject::connect(m_sidebar, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < static_cast<int>(pageEntries.size()))
            m_model.setSelectedPage(pageEntries.at(row).page);
    });

    m_protection = new SymbolLabel({}, {}, sidebar);
    theme::setTextRole(m_protection, theme::TextRole::body, true);
    m_sidebarAccount = new ElidedLabel(sidebar);
    theme::setTextRole(m_sidebarAccount, theme::TextRole::small);
    theme::makeSecondary(m_sidebarAccount);

    sidebarColumn->addWidget(m_sidebar, 1);
    sidebarColumn->addWidget(makeDivider(sidebar));
    sidebarColumn->addWidget(m_protection);
    sidebarColumn->addWidget(m_sidebarAccount);

    m_pages = new QStackedWidget(application);
    for (size_t i = 0; i < pageEntries.size(); ++i)
        m_pages->addWidget(new QWidget(m_pages));

    application->addWidget(sidebar);
    application->addWidget(m_pages);
    application->setStretchFactor(0, 0);
    application->setStretchFactor(1, 1);
    application->setSizes({ 176, 10000 });
    return application;
}

QString RootView::pageTitle(AppPage page) { return QString::fromUtf8(pageEntries.at(indexOf(page)).title); }

bool RootView::focusNodeSearch()
{
    if (m_model.accessState() != AppAccessState::member || m_model.selectedPage() != AppPage::nodes)
        return false;
    auto *nodes = static_cast<NodesView *>(page(AppPage::nodes));
    nodes->searchField()->setFocus(Qt::ShortcutFocusReason);
    nodes->searchField()->selectAll();
    return true;
}

QWidget *RootView::page(AppPage which)
{
    if (!m_memberApplication) {
        m_memberApplication = buildMemberApplication();
        m_content->addWidget(m_memberApplication);
    }
    QWidget *&built = m_pageWidgets.at(indexOf(which));
    if (!built) {
        switch (which) {
        case AppPage::dashboard:
            built = new DashboardView(m_model, m_pages);
            break;
        case AppPage::nodes:
            built = new NodesView(m_model, m_pages);
            break;
        case AppPage::membership:
            built = new MembershipView(m_model, m_pages);
            break;
        case AppPage::account:
            built = new AccountView(m_model, m_pages);
            break;
        case AppPage::settings:
            built = new SettingsView(m_model, m_pages);
            break;
        }
        QWidget *placeholder = m_pages->widget(indexOf(which));
        m_pages->insertWidget(indexOf(which), built);
        m_pages->removeWidget(placeholder);
        delete placeholder;
    }
    return built;
}

void RootView::render()
{
    switch (m_model.accessState()) {
    case AppAccessState::signedOut:
        if (!m_landing) {
            m_landing = new LoggedOutLandingView(m_model, m_content);
            m_content->addWidget(m_landing);
        }
        m_content->setCurrentWidget(m_landing);
        return;
    case AppAccessState::signedIn:
        if (!m_membershipOnly) {
            m_membershipOnly = new MembershipView(m_model, m_content);
            m_content->addWidget(m_membershipOnly);
        }
        if (m_content->currentWidget() != m_membershipOnly) {
            // Arriving here, the method most people pay with is chosen for them.
            m_membershipOnly->setPaymentMethod(QStringLiteral("wechat"));
            m_content->setCurrentWidget(m_membershipOnly);
        }
        return;
    case AppAccessState::member:
        break;
    }

    const AppPage selected = m_model.selectedPage();
    QWidget *shown = page(selected);
    m_content->setCurrentWidget(m_memberApplication);
    m_pages->setCurrentWidget(shown);
    if (m_sidebar->currentRow() != indexOf(selected)) {
        const QSignalBlocker quiet(m_sidebar);
        m_sidebar->setCurrentRow(indexOf(selected));
    }

    const bool connected = m_model.isConnected();
    m_protection->setSymbol(connected ? QStringLiteral("checkmark.shield.fill") : QStringLiteral("shield.slash"));
    m_protection->setText(connected ? QStringLiteral("保护已开启") : QStringLiteral("当前未连接"));
    m_protection->setColor(connected ? theme::green() : theme::secondaryText());
    const QString account = m_model.user() ? m_model.user()->account : QStringLiteral("未登录");
    static_cast<ElidedLabel *>(m_sidebarAccount)->setFullText(account);
}

void RootView::renderSheets()
{
    // A sheet is made the first time it is asked for. It is window-modal by itself, and closing
    // it clears its flag in the model by itself.
    if (m_model.showAuthentication() && !m_authentication)
        m_authentication = new AuthenticationView(m_model, this);
    if (m_model.showCheckout() && !m_checkout)
        m_checkout = new CheckoutView(m_model, this);
    showWhile(m_authentication, m_model.showAuthentication());
    showWhile(m_checkout, m_model.showCheckout());
}

void RootView::renderAlert()
{
    const std::optional<QString> &message = m_model.alertMessage();
    if (!message) {
        if (m_alert)
            m_alert->hide();
        return;
    }
    if (!m_alert) {
        m_alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("维拉网络助手"), {}, QMessageBox::NoButton, this);
        QPushButton *dismiss = m_alert->addButton(QStringLiteral("知道了"), QMessageBox::AcceptRole);
        dismiss->setAccessibleName(QStringLiteral("知道了"));
        m_alert->setDefaultButton(dismiss);
        m_alert->setEscapeButton(dismiss);
        m_alert->setWindowModality(Qt::WindowModal);
        QObject::connect(m_alert, &QMessageBox::finished, this, [this] { m_model.setAlertMessage(std::nullopt); });
    }
    m_alert->setText(*message);
    if (!m_alert->isVisible())
        m_alert->open();
}

} // namespace veyra::ui

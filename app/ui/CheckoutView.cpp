#include "CheckoutView.h"

#include "AppModel.h"
#include "Controls.h"
#include "Icons.h"
#include "PlanFeatures.h"
#include "SectionCard.h"
#include "SymbolLabel.h"
#include "Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace veyra::ui {

namespace {

    constexpr int sheetWidth = 440;

    QLabel *centredText(const QString &text, QWidget *parent, bool secondary = false)
    {
        auto *label = new QLabel(text, parent);
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
        if (secondary)
            theme::makeSecondary(label);
        return label;
    }

    // An indeterminate bar and what is being waited for, centred on one row.
    QWidget *waitingRow(const QString &text, QWidget *parent)
    {
        auto *row = new QWidget(parent);
        auto *layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(theme::unit);
        layout->addStretch(1);
        layout->addWidget(makeBusyBar(theme::unit * 6, row), 0, Qt::AlignVCenter);
        auto *label = new QLabel(text, row);
        layout->addWidget(label);
        layout->addStretch(1);
        row->setAccessibleName(text);
        return row;
    }

    QLabel *symbolImage(const QString &symbol, int size, const QColor &color, QWidget *parent)
    {
        auto *label = new QLabel(parent);
        label->setAlignment(Qt::AlignCenter);
        showSymbol(label, symbol, size, color);
        return label;
    }

} // namespace

CheckoutView::CheckoutView(AppModel &model, QWidget *parent)
    : QDialog(parent)
    , m_model(model)
    , m_title(new QLabel(QStringLiteral("安全收银台"), this))
    , m_close(makeButton(QStringLiteral("关闭窗口"), this))
    , m_creating(waitingRow(QStringLiteral("正在创建订单…"), this))
    , m_final(new QWidget(this))
    , m_open(new QWidget(this))
{
    setWindowModality(Qt::WindowModal);
    setWindowTitle(QStringLiteral("安全收银台"));
    setFixedWidth(sheetWidth);
    theme::setTextRole(m_title, theme::TextRole::title, true);
    m_close->setAutoDefault(false);

    auto *header = new QHBoxLayout;
    header->addWidget(m_title, 1);
    header->addWidget(m_close, 0, Qt::AlignVCenter);

    // Paid, or ended without a payment.
    m_finalIcon = new QLabel(m_final);
    m_finalIcon->setAlignment(Qt::AlignCenter);
    m_finalTitle = centredText({}, m_final);
    theme::setTextRole(m_finalTitle, theme::TextRole::title, true);
    m_finalText = centredText({}, m_final, true);
    m_finish = makeButton(QStringLiteral("完成"), m_final);
    m_finish->setProperty("prominent", true);
    m_finish->setDefault(true);
    auto *finalColumn = new QVBoxLayout(m_final);
    finalColumn->setContentsMargins(0, theme::unit, 0, 0);
    finalColumn->setSpacing(theme::unit * 3 / 2);
    finalColumn->addWidget(m_finalIcon);
    finalColumn->addWidget(m_finalTitle);
    finalColumn->addWidget(m_finalText);
    finalColumn->addSpacing(theme::unit);
    finalColumn->addWidget(m_finish, 0, Qt::AlignHCenter);

    // An open order: the Alipay page in the browser, or a code to scan.
    m_browser = new QWidget(m_open);
    auto *browserColumn = new QVBoxLayout(m_browser);
    browserColumn->setContentsMargins(0, 0, 0, 0);
    browserColumn->setSpacing(theme::unit);
    browserColumn->addWidget(symbolImage(QStringLiteral("safari.fill"), 62, theme::accent(), m_browser));
    auto *browserTitle = centredText(QStringLiteral("已打开支付宝官方收银台"), m_browser);
    theme::setTextRole(browserTitle, theme::TextRole::headline, true);
    browserColumn->addWidget(browserTitle);
    browserColumn->addWidget(centredText(QStringLiteral("请在浏览器页面使用支付宝扫码付款。"), m_browser, true));

    m_code = new QWidget(m_open);
    auto *codeColumn = new QVBoxLayout(m_code);
    codeColumn->setContentsMargins(0, 0, 0, 0);
    codeColumn->setSpacing(theme::unit);
    m_codeImage = new QLabel(m_code);
    m_codeImage->setFixedSize(codeSize, codeSize);
    m_codeImage->setAlignment(Qt::AlignCenter);
    m_codeImage->setAccessibleName(QStringLiteral("付款二维码"));
    codeColumn->addWidget(m_codeImage, 0, Qt::AlignHCenter);
    m_codeMissing = new SectionCard(m_code);
    m_codeMissing->setFixedSize(codeSize, codeSize * 2 / 3);
    auto *missingColumn = static_cast<SectionCard *>(m_codeMissing)->body();
    missingColumn->addStretch(1);
    auto *missingTitle = centredText(QStringLiteral("二维码暂不可用"), m_codeMissing);
    theme::setTextRole(missingTitle, theme::TextRole::headline, true);
    missingColumn->addWidget(missingTitle);
    missingColumn->addWidget(centredText(QStringLiteral("可打开受信任的收银台继续付款。"), m_codeMissing, true));
    missingColumn->addStretch(1);
    codeColumn->addWidget(m_codeMissing, 0, Qt::AlignHCenter);

    m_reopen = makeButton({}, m_open);
    m_reopen->setAutoDefault(false);

    m_planName = new QLabel(m_open);
    theme::setTextRole(m_planName, theme::TextRole::headline, true);
    m_amount = new QLabel(m_open);
    theme::setTextRole(m_amount, theme::TextRole::title, true);
    theme::setTextColor(m_amount, theme::accent());
    auto *orderRow = new QHBoxLayout;
    orderRow->addWidget(m_planName, 1);
    orderRow->addWidget(m_amount);

    auto *note = new QLabel(QStringLiteral("只有服务端确认订单已支付后，会员权益才会更新。"), m_open);
    note->setWordWrap(true);
    theme::setTextRole(note, theme::TextRole::small);
    theme::makeSecondary(note);

    auto *openColumn = new QVBoxLayout(m_open);
    openColumn->setContentsMargins(0, 0, 0, 0);
    openColumn->setSpacing(theme::unit * 3 / 2);
    openColumn->addWidget(m_browser);
    openColumn->addWidget(m_code);
    openColumn->addWidget(m_reopen, 0, Qt::AlignHCenter);
    openColumn->addWidget(makeDivider(m_open));
    openColumn->addLayout(orderRow);
    openColumn->addWidget(waitingRow(QStringLiteral("正在核验支付结果…"), m_open));
    openColumn->addWidget(note);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(theme::unit * 3, theme::unit * 3, theme::unit * 3, theme::unit * 3);
    column->setSpacing(theme::unit * 2);
    column->addLayout(header);
    column->addWidget(m_creating);
    column->addWidget(m_final);
    column->addWidget(m_open);

    QObject::connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    QObject::connect(m_finish, &QPushButton::clicked, this, &QDialog::accept);
    QObject::connect(m_reopen, &QPushButton::clicked, this, [this] { m_model.openPaymentPage(); });
    QObject::connect(&m_model, &AppModel::checkoutImageChanged, this, &CheckoutView::renderCode);
    QObject::connect(&m_model, &AppModel::stateChanged, this, &CheckoutView::render);
    QObject::connect(&m_model, &AppModel::showCheckoutChanged, this, [this] {
        if (!m_model.showCheckout() && isVisible())
            done(QDialog::Rejected);
    });
    renderCode();
    render();
}

void CheckoutView::done(int result)
{
    QDialog::done(result);
    m_model.setShowCheckout(false);
}

void CheckoutView::renderCode()
{
    const QImage &image = m_model.checkoutImage();
    if (image.isNull()) {
        m_codeImage->clear();
        return;
    }
    const qreal ratio = devicePixelRatioF();
    QPixmap code = QPixmap::fromImage(image).scaled(QSize(codeSize, codeSize) * ratio, Qt::KeepAspectRatio,
        Qt::SmoothTransformation);
    code.setDevicePixelRatio(ratio);
    m_codeImage->setPixmap(code);
}

void CheckoutView::render()
{
    const std::optional<PaymentOrder> &order = m_model.currentOrder();
    const bool open = order && !order->isFinal();
    const bool alipay = open && order->method.compare(QLatin1String("alipay"), Qt::CaseInsensitive) == 0;
    const bool hasCode = !m_model.checkoutImage().isNull();

    m_creating->setVisible(!order);
    m_final->setVisible(order && !open);
    m_open->setVisible(open);

    QString shape;
    if (!order) {
        shape = QStringLiteral("creating");
    } else if (!open) {
        const bool paid = order->isPaid();
        shape = paid ? QStringLiteral("paid") : QStringLiteral("ended");
        if (shape != m_shape) {
            m_finish->setFocus();
            showSymbol(m_finalIcon, paid ? QStringLiteral("checkmark.circle.fill")
                                                     : QStringLiteral("exclamationmark.circle.fill"),
                paid ? 78 : 62, paid ? theme::green() : theme::orange());
        }
        if (paid) {
            m_finalTitle->setText(QStringLiteral("开通成功"));
            m_finalText->setText(QStringLiteral("会员权益已更新，现在可使用全部会员线路。"));
        } else {
            // The service ended the order without a payment; polling has stopped, so waiting
            // here would be waiting for nothing.
            m_finalTitle->setText(QStringLiteral("订单") + orderStatusText(*order));
            m_finalText->setText(
                QStringLiteral("本次订单没有完成支付，会员权益没有变化。如需开通会员，请重新选择套餐下单。"));
        }
    } else {
        shape = alipay ? QStringLiteral("alipay") : hasCode ? QStringLiteral("code") : QStringLiteral("no-code");
        m_browser->setVisible(alipay);
        m_code->setVisible(!alipay);
        m_codeImage->setVisible(hasCode);
        m_codeMissing->setVisible(!hasCode);
        const QString reopen = alipay ? QStringLiteral("重新打开支付宝收银台") : QStringLiteral("在浏览器打开受信任收银台");
        m_reopen->setText(reopen);
        m_reopen->setAccessibleName(reopen);
        m_planName->setText(orderPlanName(*order));
        m_amount->setText(order->amountFen ? priceText(*order->amountFen) : QString());
        m_amount->setVisible(order->amountFen.has_value());
    }

    // The sheet's height follows what it shows.
    if (shape != m_shape) {
        m_shape = shape;
        adjustSize();
    }
}

} // namespace veyra::ui

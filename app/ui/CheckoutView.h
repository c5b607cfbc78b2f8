#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace veyra {
class AppModel;
}

namespace veyra::ui {

class SymbolLabel;

// The sheet shown while an order is being paid. It has no state of its own: it shows the
// model's current order as polling publishes it (being created, open by QR code, open in the
// Alipay page, paid, or ended unpaid). Closing it in any way clears the model's showCheckout;
// polling goes on in the background.
class CheckoutView : public QDialog {
    Q_OBJECT
public:
    explicit CheckoutView(AppModel &model, QWidget *parent = nullptr);

    // The side of the shown QR code, in device-independent pixels.
    static constexpr int codeSize = 220;

    void done(int result) override;

private:
    void render();
    void renderCode();

    AppModel &m_model;
    QString m_shape;

    QLabel *m_title;
    QPushButton *m_close;

    QWidget *m_creating;

    // A final status: paid, or ended without payment.
    QWidget *m_final;
    QLabel *m_finalIcon;
    QLabel *m_finalTitle;
    QLabel *m_finalText;
    QPushButton *m_finish;

    // An order waiting for its payment.
    QWidget *m_open;
    QWidget *m_browser;
    QWidget *m_code;
    QLabel *m_codeImage;
    QWidget *m_codeMissing;
    QPushButton *m_reopen;
    QLabel *m_planName;
    QLabel *m_amount;
};

} // namespace veyra::ui

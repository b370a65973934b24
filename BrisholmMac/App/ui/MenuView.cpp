#include "MenuView.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFontDatabase>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "App/AppModel.hpp"
#include "Log/DiagnosticLog.hpp"
#include "Permissions.hpp"
#include "QRCode.hpp"

namespace vantrel {

// The status row's filled 9 x 9 circle.
class StatusDot : public QWidget {
public:
    explicit StatusDot(QWidget* parent) : QWidget(parent) { setFixedSize(9, 9); }

    void setColour(QColor colour) {
        if (colour != colour_) {
            colour_ = colour;
            update();
        }
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour_);
        painter.drawEllipse(rect());
    }

private:
    QColor colour_;
};

namespace {

constexpr int permissionIconSize = 16;

// The permission row's symbol: a green circle with a check when granted, an orange triangle with
// an exclamation mark when not.
QPixmap permissionIcon(bool granted, qreal pixelRatio) {
    const int side = permissionIconSize;
    QPixmap pixmap(QSize(side, side) * pixelRatio);
    pixmap.setDevicePixelRatio(pixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen mark(Qt::white, 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    if (granted) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x2e, 0xc2, 0x7e));
        painter.drawEllipse(QRectF(0.5, 0.5, side - 1, side - 1));
        painter.setPen(mark);
        painter.drawPolyline(QPolygonF({{4.2, 8.4}, {6.9, 11.0}, {11.8, 5.4}}));
    } else {
        QPainterPath triangle;
        triangle.moveTo(side / 2.0, 0.8);
        triangle.lineTo(side - 0.5, side - 1.2);
        triangle.lineTo(0.5, side - 1.2);
        triangle.closeSubpath();
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0xff, 0x78, 0x00));
        painter.drawPath(triangle);
        painter.setPen(mark);
        painter.drawLine(QPointF(side / 2.0, 5.2), QPointF(side / 2.0, 9.4));
        painter.drawPoint(QPointF(side / 2.0, 12.2));
    }
    return pixmap;
}

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QFont scaled(QFont font, qreal factor) {
    font.setPointSizeF(font.pointSizeF() * factor);
    return font;
}

// Small, secondary-coloured text as the code's notes.
QLabel* caption(const QString& text, QWidget* parent, bool monospaced = false) {
    auto* label = new QLabel(text, parent);
    const QFont base = monospaced ? QFontDatabase::systemFont(QFontDatabase::FixedFont) : parent->font();
    label->setFont(scaled(base, 0.85));
    auto palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    label->setPalette(palette);
    label->setWordWrap(true);
    return label;
}

// The panel's on/off choices look like switches, not like form check boxes.
void styleAsSwitch(QCheckBox* box) {
    box->setStyleSheet(
        QStringLiteral("QCheckBox::indicator { width: 34px; height: 18px; }"
                       "QCheckBox::indicator:unchecked { image: url(:/vantrel/switch-off.svg); }"
                       "QCheckBox::indicator:checked { image: url(:/vantrel/switch-on.svg); }"));
}

// Red caption text, for what went wrong.
QLabel* errorCaption(const QString& objectName, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setObjectName(objectName);
    label->setFont(scaled(parent->font(), 0.85));
    label->setWordWrap(true);
    label->setStyleSheet(QStringLiteral("color: #e01b24;"));
    return label;
}

QPushButton* smallButton(const QString& text, const QString& toolTip, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setFont(scaled(parent->font(), 0.9));
    button->setToolTip(toolTip);
    button->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    return button;
}

}  // namespace

MenuView::MenuView(AppModel& model, std::optional<Autostart> autostart, QWidget* parent)
    : QWidget(parent), model_(model), autostart_(std::move(autostart)) {
    useIcons();
    setFixedWidth(width);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(14, 14, 14, 14);
    stack->setSpacing(12);

    // Title row with the sharing switch, whose label "Freigabe" is for assistive technology only.
    auto* title = new QHBoxLayout;
    auto* name = new QLabel(QStringLiteral("Vantrel"), this);
    QFont headline = scaled(font(), 1.1);
    headline.setBold(true);
    name->setFont(headline);
    sharing_ = new QCheckBox(this);
    sharing_->setAccessibleName(QStringLiteral("Freigabe"));
    sharing_->setObjectName(QStringLiteral("sharing"));
    styleAsSwitch(sharing_);
    connect(sharing_, &QCheckBox::clicked, this, [this](bool on) { model_.setSharingEnabled(on); });
    title->addWidget(name);
    title->addStretch();
    title->addWidget(sharing_);
    stack->addLayout(title);

    auto* status = new QHBoxLayout;
    status->setSpacing(8);
    statusDot_ = new StatusDot(this);
    statusDot_->setObjectName(QStringLiteral("statusDot"));
    statusText_ = new QLabel(this);
    statusText_->setObjectName(QStringLiteral("status"));
    statusText_->setFont(scaled(font(), 0.95));
    status->addWidget(statusDot_, 0, Qt::AlignVCenter);
    status->addWidget(statusText_, 1, Qt::AlignVCenter);
    stack->addLayout(status);

    stack->addWidget(divider(this));

    auto permissionRow = [&](const QString& title, QWidget* (*request)()) {
        auto* row = new QHBoxLayout;
        auto* icon = new QLabel(this);
        icon->setFixedSize(permissionIconSize, permissionIconSize);
        auto* allow = smallButton(QStringLiteral("Erlauben"), {}, this);
        allow->setObjectName(QStringLiteral("Erlauben:") + title);
        connect(allow, &QPushButton::clicked, this, [request] { request(); });
        row->addWidget(icon);
        row->addWidget(new QLabel(title, this));
        row->addStretch();
        row->addWidget(allow);
        stack->addLayout(row);
        return PermissionRow{icon, allow};
    };
    screenRecording_ = permissionRow(QStringLiteral("Bildschirmaufnahme"), &Permissions::requestScreenRecording);
    accessibility_ = permissionRow(QStringLiteral("Bedienungshilfen"), &Permissions::requestAccessibility);

    displayGroup_ = new QWidget(this);
    displayGroup_->setObjectName(QStringLiteral("displays"));
    auto* displays = new QVBoxLayout(displayGroup_);
    displays->setContentsMargins(0, 0, 0, 0);
    displays->setSpacing(12);
    auto* picker = new QHBoxLayout;
    displayPicker_ = new QComboBox(displayGroup_);
    displayPicker_->setObjectName(QStringLiteral("displayPicker"));
    // activated, not currentIndexChanged: only a user's choice selects, never a re-render.
    connect(displayPicker_, &QComboBox::activated, this,
            [this](int index) { model_.select(displayPicker_->itemData(index).toUInt(), std::nullopt); });
    picker->addWidget(new QLabel(QStringLiteral("Display"), displayGroup_));
    picker->addWidget(displayPicker_, 1);
    displays->addLayout(picker);
    followWindows_ = new QCheckBox(QStringLiteral("Neuen Fenstern folgen"), displayGroup_);
    styleAsSwitch(followWindows_);
    followWindows_->setToolTip(
        QStringLiteral("Öffnet sich etwas auf dem anderen Display, zeigt das Telefon dieses Display."));
    connect(followWindows_, &QCheckBox::clicked, this, [this](bool on) { model_.setFollowWindows(on); });
    displays->addWidget(followWindows_);
    // Where the session hides other programs' windows there is nothing to switch: the reason
    // stands in the switch's place.
    noFollowing_ = caption(QString::fromStdString(model_.noFollowingReason()), displayGroup_);
    noFollowing_->setObjectName(QStringLiteral("noFollowing"));
    displays->addWidget(noFollowing_);
    stack->addWidget(displayGroup_);

    captureError_ = errorCaption(QStringLiteral("captureError"), this);
    stack->addWidget(captureError_);

    stack->addWidget(divider(this));

    pairingToggle_ = new QToolButton(this);
    pairingToggle_->setObjectName(QStringLiteral("pairingToggle"));
    pairingToggle_->setText(QStringLiteral("Telefon koppeln"));
    pairingToggle_->setAutoRaise(true);
    pairingToggle_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    connect(pairingToggle_, &QToolButton::clicked, this, [this] { model_.setShowCode(!model_.showCode()); });
    stack->addWidget(pairingToggle_);

    pairingSection_ = new QWidget(this);
    auto* pairing = new QVBoxLayout(pairingSection_);
    pairing->setContentsMargins(0, 8, 0, 0);
    pairing->setSpacing(8);
    code_ = new QLabel(pairingSection_);
    code_->setObjectName(QStringLiteral("code"));
    codeNote_ =
        caption(QStringLiteral("Der Code enthält den Schlüssel. Nicht fotografieren oder teilen."), pairingSection_);
    addresses_ = caption({}, pairingSection_, true);
    addresses_->setObjectName(QStringLiteral("addresses"));
    noCode_ = caption(QStringLiteral("Kein Netzwerk oder Freigabe aus."), pairingSection_);
    sessionOnlyKey_ =
        caption(QStringLiteral("Der Schlüsselbund ist gesperrt oder fehlt: Dieser Schlüssel gilt nur bis zum Beenden."),
                pairingSection_);
    copyLink_ = smallButton(QStringLiteral("Kopplungslink kopieren"),
                            QStringLiteral("Für den Simulator. Der Link enthält den Schlüssel."), pairingSection_);
    connect(copyLink_, &QPushButton::clicked, this, &MenuView::copyPairingLink);
    auto* rotate =
        smallButton(QStringLiteral("Schlüssel erneuern"),
                    QStringLiteral("Alle bisher gekoppelten Telefone verlieren den Zugriff."), pairingSection_);
    connect(rotate, &QPushButton::clicked, this, [this] { model_.rotateKey(); });
    // Texts take the full width so they wrap at it; the code and the buttons keep their own size.
    pairing->addWidget(code_, 0, Qt::AlignLeft);
    for (QLabel* text : {codeNote_, addresses_, noCode_, sessionOnlyKey_}) {
        pairing->addWidget(text);
    }
    pairing->addWidget(copyLink_, 0, Qt::AlignLeft);
    pairing->addWidget(rotate, 0, Qt::AlignLeft);
    // Under the button whose request it answers.
    keyError_ = errorCaption(QStringLiteral("keyError"), pairingSection_);
    pairing->addWidget(keyError_);
    stack->addWidget(pairingSection_);

    stack->addWidget(divider(this));

    // Starting at log-in is this user's choice, kept in their autostart entry rather than here: a
    // terminal's brisholm --autostart or the session's settings may change it too.
    startAtLogin_ = new QCheckBox(QStringLiteral("Bei der Anmeldung starten"), this);
    startAtLogin_->setObjectName(QStringLiteral("startAtLogin"));
    styleAsSwitch(startAtLogin_);
    connect(startAtLogin_, &QCheckBox::clicked, this, &MenuView::switchAutostart);
    stack->addWidget(startAtLogin_);

    auto* bottom = new QHBoxLayout;
    disconnect_ = new QPushButton(QStringLiteral("Trennen"), this);
    connect(disconnect_, &QPushButton::clicked, this, [this] { model_.disconnectClient(); });
    auto* quit = new QPushButton(QStringLiteral("Beenden"), this);
    connect(quit, &QPushButton::clicked, this, &MenuView::quitRequested);
    bottom->addWidget(disconnect_);
    bottom->addStretch();
    bottom->addWidget(quit);
    stack->addLayout(bottom);

    connect(&model_, &AppModel::changed, this, &MenuView::render);
    renderAutostart();
    render();
}

void MenuView::showEvent(QShowEvent* event) {
    renderAutostart();
    QWidget::showEvent(event);
}

void MenuView::renderAutostart() {
    startAtLogin_->setVisible(autostart_.has_value());
    startAtLogin_->setChecked(autostart_ && autostart_->enabled());
}

void MenuView::switchAutostart(bool on) {
    if (autostart_) {
        if (const auto problem = autostart_->setEnabled(on); !problem.empty()) {
            diagnosticLog().warn("starting at log-in could not be switched {}: {}", on ? "on" : "off", problem);
        }
    }
    // The switch shows what the files say now, whether or not the change went through.
    renderAutostart();
}

void MenuView::render() {
    sharing_->setChecked(model_.sharingEnabled());

    const auto status = statusLine(model_.clientName(), model_.port(), model_.sharingEnabled());
    statusDot_->setColour(colourOf(status.dot));
    statusText_->setText(status.text);

    for (const auto& [row, granted] : {std::pair{screenRecording_, model_.hasScreenRecording()},
                                       std::pair{accessibility_, model_.hasAccessibility()}}) {
        row.icon->setPixmap(permissionIcon(granted, devicePixelRatioF()));
        row.allow->setVisible(!granted);
    }

    renderDisplays();

    captureError_->setText(QString::fromStdString(model_.captureError().value_or("")));
    captureError_->setVisible(model_.captureError().has_value());

    renderPairing();

    disconnect_->setVisible(model_.clientName().has_value());

    // The panel is as high as its content at the fixed width. The sections' own layouts learn of
    // their changed children only later, so they are brought up to date first.
    for (QWidget* section : {displayGroup_, pairingSection_}) {
        section->layout()->activate();
    }
    layout()->invalidate();
    layout()->activate();
    setFixedHeight(layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width) : sizeHint().height());
}

void MenuView::renderDisplays() {
    const auto& displays = model_.displays();
    displayGroup_->setVisible(displays.size() >= 2);
    if (displays != listedDisplays_) {
        displayPicker_->clear();
        for (const auto& display : displays) {
            displayPicker_->addItem(QString::fromStdString(display.name), QVariant::fromValue(display.id));
        }
        listedDisplays_ = displays;
    }
    displayPicker_->setCurrentIndex(displayPicker_->findData(QVariant::fromValue(model_.activeDisplay())));
    followWindows_->setChecked(model_.followWindows());
    followWindows_->setVisible(model_.canFollowWindows());
    noFollowing_->setVisible(!model_.canFollowWindows());
}

void MenuView::renderPairing() {
    pairingToggle_->setArrowType(model_.showCode() ? Qt::DownArrow : Qt::RightArrow);
    pairingSection_->setVisible(model_.showCode());

    const auto url = model_.pairingURL();
    if (!url) {
        drawnCode_.reset();
        code_->clear();
    } else if (std::pair identity{model_.pairingRevision(), *url}; drawnCode_ != identity) {
        // The revision is part of the identity: a rotated key always gets a fresh image. The code
        // is 240 points with 8 of white at this screen's pixel density.
        const qreal ratio = devicePixelRatioF();
        auto pixmap = QPixmap();
        if (const auto image = QRCode::framed(*url, qRound(240 * ratio), qRound(8 * ratio))) {
            pixmap = QPixmap::fromImage(*image);
            pixmap.setDevicePixelRatio(ratio);
        } else {
            diagnosticLog().warn("the pairing link does not fit in a QR code; the panel shows none");
        }
        code_->setPixmap(pixmap);
        drawnCode_ = std::move(identity);
    }
    const bool hasCode = !code_->pixmap().isNull();
    code_->setVisible(hasCode);
    codeNote_->setVisible(hasCode);
    QStringList addresses;
    for (const auto& address : model_.addresses()) {
        addresses << QString::fromStdString(address);
    }
    addresses_->setText(addresses.join(QStringLiteral(" · ")));
    addresses_->setVisible(hasCode);
    noCode_->setVisible(!hasCode);
    // Not while the keyring has yet to answer: there is no key then, of any kind.
    const auto& key = model_.pairingKey();
    sessionOnlyKey_->setVisible(!key.key.empty() && key.origin == PairingKey::Origin::sessionOnly);
    copyLink_->setVisible(model_.pairingURL().has_value());
    keyError_->setText(QString::fromStdString(model_.keyError().value_or("")));
    keyError_->setVisible(model_.keyError().has_value());
}

void MenuView::copyPairingLink() {
    // Read afresh: the link on the clipboard is the one in effect now, nothing added.
    if (const auto url = model_.pairingURL()) {
        QApplication::clipboard()->setText(QString::fromStdString(*url), QClipboard::Clipboard);
    }
}

}  // namespace vantrel

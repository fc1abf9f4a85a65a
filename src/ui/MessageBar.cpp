// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/MessageBar.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QLabel>
#include <QStyle>
#include <QTimer>
#include <QToolButton>

#include <algorithm>

namespace meridane::ui {
namespace {

// Screen readers announce an alert when it appears; a plain frame would be
// passed over as decoration.
QAccessibleInterface* messageBarAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("meridane::ui::MessageBar") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::AlertMessage);
    return nullptr;
}

QColor tint(MessageBar::Kind kind) {
    switch (kind) {
    case MessageBar::Kind::positive:
        return QColor(0x27, 0xAE, 0x60);
    case MessageBar::Kind::warning:
        return QColor(0xF6, 0x74, 0x00);
    case MessageBar::Kind::error:
        return QColor(0xDA, 0x44, 0x53);
    case MessageBar::Kind::information:
        break;
    }
    return QColor(0x3D, 0xAE, 0xE9);
}

QStyle::StandardPixmap iconOf(MessageBar::Kind kind) {
    switch (kind) {
    case MessageBar::Kind::positive:
        return QStyle::SP_DialogApplyButton;
    case MessageBar::Kind::warning:
        return QStyle::SP_MessageBoxWarning;
    case MessageBar::Kind::error:
        return QStyle::SP_MessageBoxCritical;
    case MessageBar::Kind::information:
        break;
    }
    return QStyle::SP_MessageBoxInformation;
}

}  // namespace

MessageBar::MessageBar(QWidget* parent)
    : QFrame(parent),
      icon_(new QLabel(this)),
      text_(new QLabel(this)),
      close_(new QToolButton(this)),
      fade_(new QTimer(this)) {
    static const bool factoryInstalled = (QAccessible::installFactory(&messageBarAccessible), true);
    Q_UNUSED(factoryInstalled);

    setObjectName(QStringLiteral("messageBar"));
    setAccessibleName(QStringLiteral("Messages"));
    setFrameShape(QFrame::StyledPanel);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 6, 4, 6);
    row->setSpacing(8);
    row->addWidget(icon_, 0, Qt::AlignTop);
    text_->setObjectName(QStringLiteral("messageText"));
    text_->setTextFormat(Qt::PlainText);  // paths may hold anything
    text_->setWordWrap(true);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    row->addWidget(text_, 1);
    close_->setObjectName(QStringLiteral("closeMessage"));
    close_->setAutoRaise(true);
    close_->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    close_->setToolTip(QStringLiteral("Close"));
    close_->setAccessibleName(QStringLiteral("Close Message"));
    row->addWidget(close_, 0, Qt::AlignTop);
    connect(close_, &QToolButton::clicked, this, &MessageBar::clear);

    fade_->setSingleShot(true);
    fade_->setInterval(positiveTimeoutMs);
    connect(fade_, &QTimer::timeout, this, [this] {
        if (!entries_.empty() && std::all_of(entries_.begin(), entries_.end(),
                                             [](const Entry& e) { return e.kind == Kind::positive; }))
            clear();
    });
    hide();
}

void MessageBar::showMessage(const QString& key, const QString& text, Kind kind) {
    auto entry = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.key == key; });
    const bool added = entry == entries_.end();
    if (entry == entries_.end())
        entries_.push_back({key, text, kind});
    else
        *entry = {key, text, kind};
    refresh();
    if (kind == Kind::positive)
        fade_->start();
    // Announced once: a count that grows during a run is not news each time.
    if (added && isVisible()) {
        QAccessibleEvent alert(this, QAccessible::Alert);
        QAccessible::updateAccessibility(&alert);
    }
}

void MessageBar::clear() {
    entries_.clear();
    fade_->stop();
    refresh();
}

QStringList MessageBar::messages() const {
    QStringList lines;
    for (const Entry& entry : entries_)
        lines << entry.text;
    return lines;
}

MessageBar::Kind MessageBar::kind() const {
    Kind most = Kind::information;
    for (const Entry& entry : entries_)
        most = std::max(most, entry.kind);
    return most;
}

void MessageBar::refresh() {
    if (entries_.empty()) {
        text_->clear();
        hide();
        return;
    }
    if (const Kind shown = kind(); shown != styledKind_ || styleSheet().isEmpty()) {
        styledKind_ = shown;
        const QColor color = tint(shown);
        QColor fill = color;
        fill.setAlphaF(0.15f);
        // The frame's colours only: the text keeps the palette's, whose
        // contrast the theme has already made sure of.
        setStyleSheet(QStringLiteral("QFrame#messageBar { border: 1px solid %1; border-radius: 4px;"
                                     " background-color: %2; }")
                          .arg(color.name(), fill.name(QColor::HexArgb)));
        const int size = style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, this);
        icon_->setPixmap(style()->standardIcon(iconOf(shown)).pixmap(size, size));
    }
    const QString text = messages().join(QLatin1Char('\n'));
    text_->setText(text);
    setAccessibleDescription(text);
    show();
}

}  // namespace meridane::ui

// SPDX-License-Identifier: GPL-3.0-or-later
// A bar above the drop zone for what has no row of its own: a dropped path
// that cannot be read, files that are not photos, a folder without photos,
// folders a write run cannot write to, a reveal that failed, a copy. It holds
// a few messages at once, one line each, keyed so a message can be updated
// in place; a screen reader hears each new message as an alert.
#pragma once

#include <QFrame>
#include <QString>

#include <vector>

class QLabel;
class QTimer;
class QToolButton;

namespace meridane::ui {

class MessageBar : public QFrame {
    Q_OBJECT
public:
    enum class Kind { information, positive, warning, error };

    explicit MessageBar(QWidget* parent = nullptr);

    /// Shows `text` under `key`, replacing an earlier message of that key.
    /// A positive message that stands alone goes by itself after a while.
    void showMessage(const QString& key, const QString& text, Kind kind);
    /// Hides the bar and forgets its messages.
    void clear();

    /// The lines shown, oldest first.
    QStringList messages() const;
    /// The most serious kind among the messages shown.
    Kind kind() const;

    QLabel* textLabel() const { return text_; }
    QToolButton* closeButton() const { return close_; }

    static constexpr int positiveTimeoutMs = 4000;

private:
    struct Entry {
        QString key;
        QString text;
        Kind kind;
    };

    void refresh();

    std::vector<Entry> entries_;
    QLabel* icon_;
    QLabel* text_;
    QToolButton* close_;
    QTimer* fade_;
    Kind styledKind_ = Kind::information;
};

}  // namespace meridane::ui

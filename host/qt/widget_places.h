// Where the named widgets of a window are, for scripts that click inside it:
// xdotool sees the window but not the widgets in it. Writes FILE with one
// line per widget with an object name that is shown whole in the window,
// "NAME LEFT TOP WIDTH HEIGHT" in the window's own coordinates, and writes it
// again (a temporary file renamed over it) whenever a place changes.
// norvane-sim does this when NORVANE_SIM_WIDGET_PLACES names the file.
#pragma once
#include <QObject>
#include <QString>

class QTimer;
class QWidget;

namespace norvane {

class WidgetPlaces : public QObject {
    Q_OBJECT

public:
    // Looks ten times a second; `window` must outlive this object (make it
    // the parent).
    WidgetPlaces(QWidget& window, const QString& path);

    // The lines as they stand now.
    QString places() const;
    // Writes the file if the places changed since the last write.
    void update();

private:
    QWidget& window_;
    QString path_;
    QString written_;
    bool failed_ = false;
    QTimer* timer_ = nullptr;
};

}  // namespace norvane

#include "host/qt/widget_places.h"

#include <QRect>
#include <QSaveFile>
#include <QTimer>
#include <QWidget>
#include <cstdio>

namespace norvane {

WidgetPlaces::WidgetPlaces(QWidget& window, const QString& path) : QObject(&window), window_(window), path_(path)
{
    timer_ = new QTimer(this);
    timer_->setInterval(100);
    connect(timer_, &QTimer::timeout, this, &WidgetPlaces::update);
    timer_->start();
}

QString WidgetPlaces::places() const
{
    QString out;
    for (const QWidget* w : window_.findChildren<QWidget*>()) {
        const QString name = w->objectName();
        // Qt's own parts carry names too ("qt_..."); a widget in a window of
        // its own (a floating dock) or partly scrolled away is left out.
        if (name.isEmpty() || name.startsWith("qt_") || !w->isVisible() || w->window() != &window_)
            continue;
        const QRect place(w->mapTo(&window_, QPoint(0, 0)), w->size());
        QRect shown = place;
        for (const QWidget* p = w->parentWidget(); p && p != &window_; p = p->parentWidget())
            shown &= QRect(p->mapTo(&window_, QPoint(0, 0)), p->size());
        if (shown != place)
            continue;
        out += QString("%1 %2 %3 %4 %5\n")
                   .arg(name)
                   .arg(place.x())
                   .arg(place.y())
                   .arg(place.width())
                   .arg(place.height());
    }
    return out;
}

void WidgetPlaces::update()
{
    const QString now = places();
    if (now == written_)
        return;
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly) || file.write(now.toUtf8()) < 0 || !file.commit()) {
        // Said once; tried again at each look.
        if (!failed_)
            std::fprintf(stderr, "norvane-sim: %s: cannot write the widget places: %s\n", qPrintable(path_),
                         qPrintable(file.errorString()));
        failed_ = true;
        return;
    }
    failed_ = false;
    written_ = now;
}

}  // namespace norvane

// KeyPreview: the configurator's picture of the keypad with the three key faces of the current row,
// as the keypad shows them, and an "Options" button beside each key. One key is selected (0..2,
// initially 0), framed orange while the preview has the focus and grey otherwise. Clicks select,
// a double click or Enter opens a key's options, Left and Right move the selection (wrapping),
// Delete clears, Ctrl+C/X/V copy, cut and paste, a right click asks for the key's menu. A plug-in
// function dragged over a key highlights it and is dropped onto it.
//
// The faces come from the owner through `setFaceSource`; the owner calls updateFaces() when they
// change. [main-thread] like every widget.
#pragma once

#include <QImage>
#include <QPushButton>
#include <QWidget>

#include <array>
#include <functional>

namespace pixkey {

class PluginEntry;
class PluginFunction;

class KeyPreview : public QWidget {
    Q_OBJECT
public:
    static constexpr int kKeys = 3;
    static constexpr int kFrameWidth = 3;
    static constexpr int kFrameGap = 4;
    static constexpr int kOptionsTop = 219; // below the preview's top, in the horizontal form

    explicit KeyPreview(QWidget *parent = nullptr);

    // Face of key 0..2 of the current row; a null image shows the empty-key picture.
    void setFaceSource(std::function<QImage(int)> source) { m_faces = std::move(source); update(); }
    // Orientation 0..3: the picture is upright for 0 and 1, on its side for 2 and 3.
    void setOrientation(int orientation);
    int orientation() const { return m_orientation; }

    int selectedKey() const { return m_selected; }
    void setSelectedKey(int key);
    // The key whose face contains `pos`, or -1.
    int keyAt(const QPoint &pos) const;
    // Where key 0..2 is drawn, in widget coordinates.
    QRect keyRect(int key) const;
    int highlightedKey() const { return m_highlighted; }
    QPushButton *optionsButton(int key) const { return m_options[std::size_t(key)]; }

    // Repaints the key faces that changed since they were painted (the keypad body is kept from
    // the last paint). Does nothing while the preview is hidden or its window minimized.
    void updateFaces();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

Q_SIGNALS:
    void keySelected(int key);
    void optionsRequested(int key);
    void clearRequested(int key);
    void copyRequested(int key);
    void cutRequested(int key);
    void pasteRequested(int key);
    void menuRequested(int key, const QPoint &globalPos);
    void functionDropped(int key, pixkey::PluginEntry *entry, pixkey::PluginFunction *function);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    bool vertical() const;
    QPoint pictureOrigin() const;
    void placeButtons();

    std::function<QImage(int)> m_faces;
    std::array<QImage, kKeys> m_painted; // the faces as the last paint drew them
    bool m_onScreen = false;             // between a show event and a hide event (also spontaneous)
    int m_orientation = 0;
    int m_selected = 0;
    int m_highlighted = -1;
    std::array<QPushButton *, kKeys> m_options{};
    QPixmap m_emptyKey;
    // The keypad body as last rendered, and what it was rendered for; drawn again only when the
    // orientation or the screen's pixel ratio changes.
    QPixmap m_body;
    int m_bodyOrientation = -1;
    qreal m_bodyRatio = 0;
};

} // namespace pixkey

#pragma once

// Where a browsed picture lies in the display window: the fit-to-window scale, zoom steps,
// panning and the rules that keep the picture centred or against the window's edges.
// Pure arithmetic on the UI thread; the window draws what it says.

// A rectangle whose right and bottom edges lie just outside it, as window coordinates are
// given: (0, 0, 640, 400) is 640 pixels wide.
struct DisplayRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
    void Offset(int dx, int dy);
    DisplayRect Intersected(const DisplayRect& other) const;
    bool operator==(const DisplayRect&) const = default;
};

class DisplayGeometry {
public:
    // The picture's rectangle becomes (0, 0, width, height).
    void SetPicture(int width, int height);

    // The scale that fits the whole picture into `client`, keeping its aspect ratio: the
    // view spans the client's width or height and is centred along the other axis. The scale
    // becomes both the zoom and fitZoom. A picture or client without area leaves the view at
    // the picture's own size, zoom 1.
    void Fit(const DisplayRect& client);

    // In full-screen mode the view becomes the whole client (the picture is stretched to
    // it); otherwise the view is centred on both axes without changing its size.
    enum class WindowMode { kNormal, kFullScreen };
    void ResetView(const DisplayRect& client, WindowMode mode);

    // Changes the zoom by `step`, stopping exactly at fitZoom when the step would cross it and
    // never going below 0.1; the view keeps its centre, then is clamped.
    void ZoomBy(double step, const DisplayRect& client);

    // Moves the view by (dx, dy), then clamps it.
    void Pan(int dx, int dy, const DisplayRect& client);

    // Along each axis: a view larger than the client is moved so that it covers the client
    // edge to edge where it can; a view that fits is centred.
    void Clamp(const DisplayRect& client);

    void SaveZoomState();
    void RestoreZoomState();

    // True where dragging would move the picture: the view is wider or taller than the
    // client and (x, y) lies on the visible part of the picture.
    bool CanPanAt(int x, int y, const DisplayRect& client) const;

    // Where the picture is drawn: 19 pixels left of the view and 38 pixels wider than it, as
    // high as it.
    DisplayRect PictureTarget() const;

    double zoom() const { return zoom_; }
    double fitZoom() const { return fitZoom_; }
    const DisplayRect& viewRect() const { return viewRect_; }
    const DisplayRect& pictureRect() const { return pictureRect_; }

private:
    void CentreHorizontally(const DisplayRect& client);
    void CentreVertically(const DisplayRect& client);

    DisplayRect pictureRect_;
    DisplayRect viewRect_;
    double zoom_ = 1.0;
    double fitZoom_ = 1.0;
    double savedZoom_ = 1.0;
    DisplayRect savedViewRect_;
};

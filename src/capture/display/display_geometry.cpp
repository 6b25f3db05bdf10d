#include "capture/display/display_geometry.h"

#include <algorithm>
#include <cmath>

namespace {

// The zoom has no upper limit; coordinates stay well inside int whatever it grows to.
constexpr double kCoordinateLimit = 1 << 28;

int CutTowardZero(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    return static_cast<int>(std::clamp(value, -kCoordinateLimit, kCoordinateLimit));
}

constexpr double kMinimumZoom = 0.1;
constexpr int kPictureOverhang = 19;

}  // namespace

void DisplayRect::Offset(int dx, int dy) {
    left += dx;
    right += dx;
    top += dy;
    bottom += dy;
}

DisplayRect DisplayRect::Intersected(const DisplayRect& other) const {
    DisplayRect result{std::max(left, other.left), std::max(top, other.top),
                       std::min(right, other.right), std::min(bottom, other.bottom)};
    if (result.left >= result.right || result.top >= result.bottom) {
        return {};
    }
    return result;
}

void DisplayGeometry::SetPicture(int width, int height) {
    pictureRect_ = {0, 0, std::max(width, 0), std::max(height, 0)};
}

void DisplayGeometry::Fit(const DisplayRect& client) {
    const double cw = client.Width();
    const double ch = client.Height();
    const double pw = pictureRect_.Width();
    const double ph = pictureRect_.Height();
    if (cw <= 0 || ch <= 0 || pw <= 0 || ph <= 0) {
        zoom_ = 1.0;
        viewRect_ = pictureRect_;
    } else if (pw / ph > cw / ch) {
        zoom_ = cw / pw;
        const double scaledHeight = zoom_ * ph;
        const int top = CutTowardZero((ch - scaledHeight) * 0.5);
        viewRect_ = {0, top, CutTowardZero(cw), CutTowardZero(scaledHeight + top)};
    } else {
        zoom_ = ch / ph;
        const int left = CutTowardZero((cw - pw * zoom_) * 0.5);
        viewRect_ = {left, 0, CutTowardZero(pw * zoom_ + left), CutTowardZero(ch)};
    }
    fitZoom_ = zoom_;
}

void DisplayGeometry::ResetView(const DisplayRect& client, WindowMode mode) {
    if (mode == WindowMode::kFullScreen) {
        viewRect_ = client;
        return;
    }
    CentreHorizontally(client);
    CentreVertically(client);
}

void DisplayGeometry::ZoomBy(double step, const DisplayRect& client) {
    const double next = zoom_ + step;
    if ((zoom_ > fitZoom_ && next < fitZoom_) || (zoom_ < fitZoom_ && next > fitZoom_)) {
        zoom_ = fitZoom_;
    } else {
        zoom_ = next;
    }
    if (!(zoom_ > kMinimumZoom)) {
        zoom_ = kMinimumZoom;
    }
    const int centreX = (viewRect_.left + viewRect_.right) / 2;
    const int centreY = (viewRect_.top + viewRect_.bottom) / 2;
    viewRect_ = {pictureRect_.left, pictureRect_.top, CutTowardZero(zoom_ * pictureRect_.Width()),
                 CutTowardZero(pictureRect_.Height() * zoom_)};
    viewRect_.Offset(centreX - (viewRect_.left + viewRect_.right) / 2,
                     centreY - (viewRect_.top + viewRect_.bottom) / 2);
    Clamp(client);
}

void DisplayGeometry::Pan(int dx, int dy, const DisplayRect& client) {
    viewRect_.Offset(dx, 0);
    viewRect_.Offset(0, dy);
    Clamp(client);
}

void DisplayGeometry::Clamp(const DisplayRect& client) {
    if (client.Width() < viewRect_.Width()) {
        if (viewRect_.right < client.right) {
            viewRect_.Offset(client.right - viewRect_.right, 0);
        }
        if (viewRect_.left > client.left) {
            viewRect_.Offset(client.left - viewRect_.left, 0);
        }
    } else {
        CentreHorizontally(client);
    }
    if (client.Height() < viewRect_.Height()) {
        if (viewRect_.bottom < client.bottom) {
            viewRect_.Offset(0, client.bottom - viewRect_.bottom);
        }
        if (viewRect_.top > client.top) {
            viewRect_.Offset(0, client.top - viewRect_.top);
        }
    } else {
        CentreVertically(client);
    }
}

void DisplayGeometry::CentreHorizontally(const DisplayRect& client) {
    viewRect_.Offset((client.left + client.right) / 2 - (viewRect_.left + viewRect_.right) / 2, 0);
}

void DisplayGeometry::CentreVertically(const DisplayRect& client) {
    viewRect_.Offset(0, (client.top + client.bottom) / 2 - (viewRect_.top + viewRect_.bottom) / 2);
}

void DisplayGeometry::SaveZoomState() {
    savedZoom_ = zoom_;
    savedViewRect_ = viewRect_;
}

void DisplayGeometry::RestoreZoomState() {
    zoom_ = savedZoom_;
    viewRect_ = savedViewRect_;
}

bool DisplayGeometry::CanPanAt(int x, int y, const DisplayRect& client) const {
    if (viewRect_.Width() <= client.Width() && viewRect_.Height() <= client.Height()) {
        return false;
    }
    return client.Intersected(viewRect_).Contains(x, y);
}

DisplayRect DisplayGeometry::PictureTarget() const {
    return {viewRect_.left - kPictureOverhang, viewRect_.top, viewRect_.right + kPictureOverhang,
            viewRect_.bottom};
}

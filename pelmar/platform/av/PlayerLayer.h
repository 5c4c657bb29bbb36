#pragma once

#include <memory>
#include <optional>
#include <utility>

#include "pelmar/platform/av/Player.h"
#include "pelmar/platform/av/VideoGravity.h"
#include "pelmar/platform/foundation/Error.h"
#include "pelmar/platform/image/Bitmap.h"
#include "pelmar/platform/sync/Mutex.h"
#include "pelmar/platform/ui/Layer.h"
#include "pelmar/platform/ui/Rect.h"

// PlayerLayer: the layer that shows a player's picture. Taking a player makes it decode its
// video as it plays (Player::prepareVideo); painting (a snapshot) draws the picture the player
// keeps for its current time, upright, fitted into the layer's bounds by its video gravity and
// clipped to them, and never opens or decodes a movie itself. copyCurrentImage() gives that
// picture made again from its frame, decoded once more for the copy on the calling thread.
// Ownership: made with std::make_shared; holds its player.
// Threads: main thread only for the layer's properties; copyCurrentImage() may run on any thread.
// Errors: painting with nothing to show paints nothing; copyCurrentImage() fails with
//     kAssetErrorDomain/kAssetErrorUnparsable when there is no item or no video to show, and
//     image::kImageErrorDomain/kImageErrorDecode when no frame has been decoded for the time.

namespace pelmar::av {

class PlayerLayer : public ui::Layer {
public:
    using Image = std::shared_ptr<const image::Bitmap>;

    PlayerLayer() = default;

    explicit PlayerLayer(std::shared_ptr<Player> player);

    std::shared_ptr<Player> player() const;
    void setPlayer(std::shared_ptr<Player> player);

    LayerVideoGravity videoGravity() const { return gravity_; }

    void setVideoGravity(LayerVideoGravity gravity) { gravity_ = gravity; }

    // True when the current item is ready and has a video track.
    bool isReadyForDisplay() const;

    // The picture at the player's current time, straight RGBA; 0 leaves a side unbounded.
    std::pair<Image, std::optional<Error>> copyCurrentImage(int maximumWidth = 0,
                                                            int maximumHeight = 0) const;

    void draw(ui::GraphicsContext& context, ui::Rect bounds) override;

private:
    mutable Mutex mutex_;
    std::shared_ptr<Player> player_ PELMAR_GUARDED_BY(mutex_);
    LayerVideoGravity gravity_ = LayerVideoGravity::ResizeAspect;
};

}  // namespace pelmar::av

#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "pelmar/platform/photos/AssetCollection.h"
#include "pelmar/platform/photos/FetchOptions.h"
#include "pelmar/platform/photos/ImageManager.h"
#include "pelmar/platform/ui/Color.h"
#include "pelmar/platform/ui/GraphicsContext.h"
#include "pelmar/platform/ui/Size.h"
#include "pelmar/platform/ui/TraitCollection.h"

namespace pelmar {

using UserInterfaceSizeClass = ui::UserInterfaceSizeClass;

// Light or dark appearance, with the system's raw values.
enum class UserInterfaceStyle : int { Unspecified = 0, Light = 1, Dark = 2 };

// Text attributes: a font and a foreground colour.
struct TextAttributes {
    ui::Font font;
    ui::Color foregroundColor;

    bool operator==(const TextAttributes&) const = default;
};

// The picker's colours, following the light and dark appearance.
struct PickerColors {
    static ui::Color systemBackgroundColor() { return ui::Color::white(); }

    static ui::Color systemShadowColor() { return ui::Color::white(); }

    static ui::Color systemPrimaryTextColor() { return ui::Color::black(); }

    static ui::Color systemSecondaryTextColor() { return {0.24, 0.24, 0.26, 0.6}; }

    // The chevron's colour: white under the dark style, black otherwise.
    static ui::Color systemStrokeColor(UserInterfaceStyle style) {
        return style == UserInterfaceStyle::Dark ? ui::Color::white() : ui::Color::black();
    }

    static ui::Color systemOverlayColor() { return {0.95, 0.95, 0.97, 1}; }

    // The tint a plain view starts with.
    static ui::Color defaultTintColor() { return {0, 0.478, 1, 1}; }
};

// `size` with both sides multiplied by `factor` (points to pixels with the screen's scale).
inline ui::Size resize(ui::Size size, double factor) {
    return {size.width * factor, size.height * factor};
}

// A field that takes its default on first read, unless a value was written before.
template <class T>
class LazyField {
public:
    template <class MakeDefault>
    T& get(MakeDefault&& makeDefault) {
        if (!value_) {
            value_.emplace(makeDefault());
        }
        return *value_;
    }

    void set(T value) { value_ = std::move(value); }

    bool isSet() const { return value_.has_value(); }

private:
    std::optional<T> value_;
};

// Settings: the configuration of one photo-library picker, in six groups (theme, selection,
// list, fetch, dismiss, preview). Every field takes its default at its first read and keeps it;
// a value written first means the default is never built, and nothing is rebuilt when another
// field changes (the assets' fetch options are built once, from the media types and maximum
// duration as they stand at that first read).
// Ownership: reference objects from std::make_shared; groups are shared by everyone holding the
// same Settings. `shared()` is one process-wide instance the SDK itself never reads.
// Threads: main thread only (no locks); shared() is made once under a one-time guard.
// Errors: none.
class Settings {
public:
    enum class SelectionStyle : int { Checked = 0, Numbered = 1 };

    class Theme {
    public:
        ui::Color backgroundColor();

        void setBackgroundColor(ui::Color c) { backgroundColor_.set(c); }

        ui::Color dropDownBackgroundColor();

        void setDropDownBackgroundColor(ui::Color c) { dropDownBackgroundColor_.set(c); }

        ui::Color selectionFillColor();

        void setSelectionFillColor(ui::Color c) { selectionFillColor_.set(c); }

        ui::Color selectionStrokeColor();

        void setSelectionStrokeColor(ui::Color c) { selectionStrokeColor_.set(c); }

        ui::Color selectionShadowColor();

        void setSelectionShadowColor(ui::Color c) { selectionShadowColor_.set(c); }

        SelectionStyle selectionStyle();

        void setSelectionStyle(SelectionStyle s) { selectionStyle_.set(s); }

        TextAttributes previewTitleAttributes();

        void setPreviewTitleAttributes(TextAttributes a) { previewTitleAttributes_.set(a); }

        TextAttributes previewSubtitleAttributes();

        void setPreviewSubtitleAttributes(TextAttributes a) { previewSubtitleAttributes_.set(a); }

        TextAttributes albumTitleAttributes();

        void setAlbumTitleAttributes(TextAttributes a) { albumTitleAttributes_.set(a); }

    private:
        LazyField<ui::Color> backgroundColor_;
        LazyField<ui::Color> dropDownBackgroundColor_;
        LazyField<ui::Color> selectionFillColor_;
        LazyField<ui::Color> selectionStrokeColor_;
        LazyField<ui::Color> selectionShadowColor_;
        LazyField<SelectionStyle> selectionStyle_;
        LazyField<TextAttributes> previewTitleAttributes_;
        LazyField<TextAttributes> previewSubtitleAttributes_;
        LazyField<TextAttributes> albumTitleAttributes_;
    };

    class Selection {
    public:
        int64_t max();

        void setMax(int64_t v) { max_.set(v); }

        int64_t min();

        void setMin(int64_t v) { min_.set(v); }

        bool unselectOnReachingMax();

        void setUnselectOnReachingMax(bool v) { unselectOnReachingMax_.set(v); }

    private:
        LazyField<int64_t> max_;
        LazyField<int64_t> min_;
        LazyField<bool> unselectOnReachingMax_;
    };

    class List {
    public:
        using CellsPerRow = std::function<int64_t(UserInterfaceSizeClass verticalSizeClass,
                                                  UserInterfaceSizeClass horizontalSizeClass)>;
        double spacing();

        void setSpacing(double v) { spacing_.set(v); }

        CellsPerRow cellsPerRow();

        void setCellsPerRow(CellsPerRow rule) { cellsPerRow_.set(std::move(rule)); }

    private:
        LazyField<double> spacing_;
        LazyField<CellsPerRow> cellsPerRow_;
    };

    class Preview {
    public:
        bool enabled();

        void setEnabled(bool v) { enabled_.set(v); }

    private:
        LazyField<bool> enabled_;
    };

    class Dismiss {
    public:
        bool enabled();

        void setEnabled(bool v) { enabled_.set(v); }

        bool allowSwipe();

        void setAllowSwipe(bool v) { allowSwipe_.set(v); }

    private:
        LazyField<bool> enabled_;
        LazyField<bool> allowSwipe_;
    };

    class Fetch {
    public:
        class Album {
        public:
            std::shared_ptr<photos::FetchOptions> options();

            void setOptions(std::shared_ptr<photos::FetchOptions> o) { options_.set(std::move(o)); }

            // Default: one result, the user library smart album.
            std::vector<photos::FetchResult<photos::AssetCollection>> fetchResults();

            void setFetchResults(std::vector<photos::FetchResult<photos::AssetCollection>> r) {
                fetchResults_.set(std::move(r));
            }

        private:
            LazyField<std::shared_ptr<photos::FetchOptions>> options_;
            LazyField<std::vector<photos::FetchResult<photos::AssetCollection>>> fetchResults_;
        };

        class Assets {
        public:
            enum class MediaTypes : int { Image = 0, Video = 1 };

            std::set<MediaTypes> supportedMediaTypes();

            void setSupportedMediaTypes(std::set<MediaTypes> types) {
                supportedMediaTypes_.set(std::move(types));
            }

            float maxDuration();

            void setMaxDuration(float seconds) { maxDuration_.set(seconds); }

            // Built at the first read (see the class comment); later reads give the same object.
            std::shared_ptr<photos::FetchOptions> options();

            void setOptions(std::shared_ptr<photos::FetchOptions> o) { options_.set(std::move(o)); }

        private:
            LazyField<std::set<MediaTypes>> supportedMediaTypes_;
            LazyField<float> maxDuration_;
            LazyField<std::shared_ptr<photos::FetchOptions>> options_;
        };

        class Preview {
        public:
            // Every picture request of the picker's screens starts from these.
            photos::ImageRequestOptions photoOptions();

            void setPhotoOptions(photos::ImageRequestOptions o) { photoOptions_.set(std::move(o)); }

            // Every live-photo request of the previews starts from these (network access, high
            // quality: no degraded first delivery).
            photos::LivePhotoRequestOptions livePhotoOptions();

            void setLivePhotoOptions(photos::LivePhotoRequestOptions o) {
                livePhotoOptions_.set(std::move(o));
            }

            // Every video-file request of the previews starts from these (network access).
            photos::VideoRequestOptions videoOptions();

            void setVideoOptions(photos::VideoRequestOptions o) { videoOptions_.set(std::move(o)); }

        private:
            LazyField<photos::ImageRequestOptions> photoOptions_;
            LazyField<photos::LivePhotoRequestOptions> livePhotoOptions_;
            LazyField<photos::VideoRequestOptions> videoOptions_;
        };

        std::shared_ptr<Album> album();

        void setAlbum(std::shared_ptr<Album> a) { album_.set(std::move(a)); }

        std::shared_ptr<Assets> assets();

        void setAssets(std::shared_ptr<Assets> a) { assets_.set(std::move(a)); }

        std::shared_ptr<Preview> preview();

        void setPreview(std::shared_ptr<Preview> p) { preview_.set(std::move(p)); }

    private:
        LazyField<std::shared_ptr<Album>> album_;
        LazyField<std::shared_ptr<Assets>> assets_;
        LazyField<std::shared_ptr<Preview>> preview_;
    };

    static const std::shared_ptr<Settings>& shared();

    std::shared_ptr<Theme> theme();

    void setTheme(std::shared_ptr<Theme> t) { theme_.set(std::move(t)); }

    std::shared_ptr<Selection> selection();

    void setSelection(std::shared_ptr<Selection> s) { selection_.set(std::move(s)); }

    std::shared_ptr<List> list();

    void setList(std::shared_ptr<List> l) { list_.set(std::move(l)); }

    std::shared_ptr<Fetch> fetch();

    void setFetch(std::shared_ptr<Fetch> f) { fetch_.set(std::move(f)); }

    std::shared_ptr<Dismiss> dismiss();

    void setDismiss(std::shared_ptr<Dismiss> d) { dismiss_.set(std::move(d)); }

    std::shared_ptr<Preview> preview();

    void setPreview(std::shared_ptr<Preview> p) { preview_.set(std::move(p)); }

private:
    LazyField<std::shared_ptr<Theme>> theme_;
    LazyField<std::shared_ptr<Selection>> selection_;
    LazyField<std::shared_ptr<List>> list_;
    LazyField<std::shared_ptr<Fetch>> fetch_;
    LazyField<std::shared_ptr<Dismiss>> dismiss_;
    LazyField<std::shared_ptr<Preview>> preview_;
};

}  // namespace pelmar

#include "pelmar/picker/Settings.h"

#include <limits>

namespace pelmar {

namespace {

template <class T>
std::shared_ptr<T> made() {
    return std::make_shared<T>();
}

}  // namespace

ui::Color Settings::Theme::backgroundColor() {
    return backgroundColor_.get(PickerColors::systemBackgroundColor);
}

ui::Color Settings::Theme::dropDownBackgroundColor() {
    return dropDownBackgroundColor_.get(ui::Color::clear);
}

ui::Color Settings::Theme::selectionFillColor() {
    return selectionFillColor_.get(PickerColors::defaultTintColor);
}

ui::Color Settings::Theme::selectionStrokeColor() {
    return selectionStrokeColor_.get(ui::Color::white);
}

ui::Color Settings::Theme::selectionShadowColor() {
    return selectionShadowColor_.get(PickerColors::systemShadowColor);
}

Settings::SelectionStyle Settings::Theme::selectionStyle() {
    return selectionStyle_.get([] { return SelectionStyle::Checked; });
}

TextAttributes Settings::Theme::previewTitleAttributes() {
    return previewTitleAttributes_.get([] {
        return TextAttributes{ui::Font::systemFont(16), PickerColors::systemPrimaryTextColor()};
    });
}

TextAttributes Settings::Theme::previewSubtitleAttributes() {
    return previewSubtitleAttributes_.get([] {
        return TextAttributes{ui::Font::systemFont(12), PickerColors::systemSecondaryTextColor()};
    });
}

TextAttributes Settings::Theme::albumTitleAttributes() {
    return albumTitleAttributes_.get([] {
        return TextAttributes{ui::Font::systemFont(18), PickerColors::systemPrimaryTextColor()};
    });
}

int64_t Settings::Selection::max() {
    return max_.get([] { return std::numeric_limits<int64_t>::max(); });
}

int64_t Settings::Selection::min() {
    return min_.get([] { return int64_t{1}; });
}

bool Settings::Selection::unselectOnReachingMax() {
    return unselectOnReachingMax_.get([] { return false; });
}

double Settings::List::spacing() {
    return spacing_.get([] { return 2.0; });
}

Settings::List::CellsPerRow Settings::List::cellsPerRow() {
    return cellsPerRow_.get([] {
        return CellsPerRow([](UserInterfaceSizeClass vertical, UserInterfaceSizeClass horizontal) {
            using S = UserInterfaceSizeClass;
            if (vertical == S::Regular && horizontal == S::Regular) {
                return int64_t{7};
            }
            if (vertical == S::Compact && horizontal == S::Compact) {
                return int64_t{5};
            }
            return int64_t{3};
        });
    });
}

bool Settings::Preview::enabled() {
    return enabled_.get([] { return true; });
}

bool Settings::Dismiss::enabled() {
    return enabled_.get([] { return true; });
}

bool Settings::Dismiss::allowSwipe() {
    return allowSwipe_.get([] { return false; });
}

std::shared_ptr<photos::FetchOptions> Settings::Fetch::Album::options() {
    return options_.get(made<photos::FetchOptions>);
}

std::vector<photos::FetchResult<photos::AssetCollection>> Settings::Fetch::Album::fetchResults() {
    return fetchResults_.get([this] {
        return std::vector{photos::AssetCollection::fetchAssetCollections(
                photos::AssetCollectionType::SmartAlbum,
                photos::AssetCollectionSubtype::SmartAlbumUserLibrary, options().get())};
    });
}

std::set<Settings::Fetch::Assets::MediaTypes> Settings::Fetch::Assets::supportedMediaTypes() {
    return supportedMediaTypes_.get([] { return std::set<MediaTypes>{MediaTypes::Image}; });
}

float Settings::Fetch::Assets::maxDuration() {
    return maxDuration_.get([] { return 0.0f; });
}

std::shared_ptr<photos::FetchOptions> Settings::Fetch::Assets::options() {
    return options_.get([this] {
        auto options = std::make_shared<photos::FetchOptions>();
        options->sortDescriptors = {
                {"mediaType", false}, {"duration", true}, {"creationDate", false}};
        const auto types = supportedMediaTypes();
        std::vector<int64_t> numbers;
        for (MediaTypes type : types) {
            numbers.push_back(type == MediaTypes::Image ? 1 : 2);
        }
        const double limit = maxDuration();
        const bool video = types.contains(MediaTypes::Video);
        if (limit > 0 && video && types.contains(MediaTypes::Image)) {
            options->predicate.emplace(
                    "mediaType = %d OR mediaType = %d AND duration <= %f",
                    std::vector<photos::Predicate::Argument>{int64_t{1}, int64_t{2}, limit});
        } else if (limit > 0 && video) {
            options->predicate.emplace("mediaType = %d AND duration <= %f",
                                       std::vector<photos::Predicate::Argument>{int64_t{2}, limit});
        } else {
            options->predicate.emplace("mediaType IN %@",
                                       std::vector<photos::Predicate::Argument>{numbers});
        }
        return options;
    });
}

photos::ImageRequestOptions Settings::Fetch::Preview::photoOptions() {
    return photoOptions_.get([] {
        photos::ImageRequestOptions o;
        o.networkAccessAllowed = true;
        return o;
    });
}

photos::LivePhotoRequestOptions Settings::Fetch::Preview::livePhotoOptions() {
    return livePhotoOptions_.get([] {
        photos::LivePhotoRequestOptions o;
        o.networkAccessAllowed = true;
        o.deliveryMode = photos::ImageDeliveryMode::HighQualityFormat;
        return o;
    });
}

photos::VideoRequestOptions Settings::Fetch::Preview::videoOptions() {
    return videoOptions_.get([] {
        photos::VideoRequestOptions o;
        o.networkAccessAllowed = true;
        return o;
    });
}

std::shared_ptr<Settings::Fetch::Album> Settings::Fetch::album() {
    return album_.get(made<Album>);
}

std::shared_ptr<Settings::Fetch::Assets> Settings::Fetch::assets() {
    return assets_.get(made<Assets>);
}

std::shared_ptr<Settings::Fetch::Preview> Settings::Fetch::preview() {
    return preview_.get(made<Preview>);
}

const std::shared_ptr<Settings>& Settings::shared() {
    static const std::shared_ptr<Settings> instance = std::make_shared<Settings>();
    return instance;
}

std::shared_ptr<Settings::Theme> Settings::theme() {
    return theme_.get(made<Theme>);
}

std::shared_ptr<Settings::Selection> Settings::selection() {
    return selection_.get(made<Selection>);
}

std::shared_ptr<Settings::List> Settings::list() {
    return list_.get(made<List>);
}

std::shared_ptr<Settings::Fetch> Settings::fetch() {
    return fetch_.get(made<Fetch>);
}

std::shared_ptr<Settings::Dismiss> Settings::dismiss() {
    return dismiss_.get(made<Dismiss>);
}

std::shared_ptr<Settings::Preview> Settings::preview() {
    return preview_.get(made<Preview>);
}

}  // namespace pelmar

#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pelmar/imageloader/PelmarRemoteImageManager.h"

namespace pelmar::ui {
class Image;
class View;
}  // namespace pelmar::ui

namespace pelmar {

// PelmarRemoteImageCategory: what lets a view show a remote image by URL. A subclass adapts one
// kind of view (how a placeholder, a result and "nothing" are shown, and whether it takes
// animated GIFs); the loading itself is PelmarRemoteImageCategoryManager's. The download UUID and
// the progress flag are attached to the view itself, so every adapter of the same view shares
// them.
// Ownership: adapters are made by their create() functions and held by shared_ptr; they refer
//     to their view weakly, and blocks given to the image manager hold the adapter.
// Threads: main thread only for the view operations; the loading operations may be called from
//     any thread (they move to the main queue first).
// Errors: completions receive the manager's results, errors included; a missing URL calls no
//     completion.
class PelmarRemoteImageCategory : public std::enable_shared_from_this<PelmarRemoteImageCategory> {
public:
    virtual ~PelmarRemoteImageCategory() = default;

    // The adapted view; null once it is gone (everything then does nothing).
    virtual std::shared_ptr<ui::View> view() const = 0;

    virtual void pelmar_setPlaceholderWithImage(const PelmarImage& placeholder) = 0;
    virtual void pelmar_updateUIWithRemoteImageManagerResult(const PelmarImageResult& result) = 0;
    virtual void pelmar_clearImages() = 0;
    // True: the view asks for no animated representation.
    virtual bool pelmar_ignoreGIFs() const = 0;

    // Download options of the view, when it has its own.
    virtual std::optional<PelmarImageRequestOptions> pelmar_defaultOptions() const {
        return std::nullopt;
    }

    void pelmar_setImageFromURL(const std::optional<std::string>& url);
    void pelmar_setImageFromURL(const std::optional<std::string>& url,
                                const PelmarImage& placeholder);
    void pelmar_setImageFromURL(const std::optional<std::string>& url,
                                PelmarImageCompletion completion);
    void pelmar_setImageFromURL(const std::optional<std::string>& url,
                                const PelmarImage& placeholder,
                                PelmarImageCompletion completion);
    void pelmar_setImageFromURL(const std::optional<std::string>& url,
                                const std::string& processorKey,
                                PelmarImageProcessor processor);
    void pelmar_setImageFromURL(const std::optional<std::string>& url,
                                const PelmarImage& placeholder,
                                const std::string& processorKey,
                                PelmarImageProcessor processor);
    void pelmar_setImageFromURL(const std::optional<std::string>& url,
                                const std::string& processorKey,
                                PelmarImageProcessor processor,
                                PelmarImageCompletion completion);
    void pelmar_setImageFromURL(const std::optional<std::string>& url,
                                const PelmarImage& placeholder,
                                const std::string& processorKey,
                                PelmarImageProcessor processor,
                                PelmarImageCompletion completion);

    // `urls` from lowest to highest quality.
    void pelmar_setImageFromURLs(const std::vector<std::string>& urls);
    void pelmar_setImageFromURLs(const std::vector<std::string>& urls,
                                 const PelmarImage& placeholder);
    void pelmar_setImageFromURLs(const std::vector<std::string>& urls,
                                 const PelmarImage& placeholder,
                                 PelmarImageCompletion completion);

    void pelmar_cancelImageDownload();

    std::optional<std::string> pelmar_downloadImageOperationUUID() const;
    void pelmar_setDownloadImageOperationUUID(std::optional<std::string> uuid);

    bool pelmar_updateWithProgress() const;
    void setPelmar_updateWithProgress(bool updateWithProgress);

protected:
    // A screen image of `bitmap`, or null.
    static std::shared_ptr<const ui::Image> uiImage(const PelmarImage& bitmap);
};

// PelmarRemoteImageCategoryOn: the part every adapter of a view type V shares: it is made by
// create() and refers to its view weakly.
// Ownership: held by shared_ptr; refers to the view weakly.
// Threads: as PelmarRemoteImageCategory.
// Errors: none; with the view gone every operation does nothing.
template <class Adapter, class V>
class PelmarRemoteImageCategoryOn : public PelmarRemoteImageCategory {
public:
    static std::shared_ptr<Adapter> create(const std::shared_ptr<V>& view) {
        auto adapter = std::make_shared<Adapter>();
        adapter->view_ = view;
        return adapter;
    }

    std::shared_ptr<ui::View> view() const override { return view_.lock(); }

protected:
    std::shared_ptr<V> typedView() const { return view_.lock(); }

private:
    std::weak_ptr<V> view_;
};

}  // namespace pelmar

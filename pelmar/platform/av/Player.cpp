#include "pelmar/platform/av/Player.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "pelmar/platform/av/MutableComposition.h"
#include "pelmar/platform/av/URLAsset.h"
#include "pelmar/platform/av/internal/PlaybackDecoder.h"
#include "pelmar/platform/av/internal/VideoPresenter.h"
#include "pelmar/platform/dispatch/Clock.h"
#include "pelmar/platform/dispatch/Queue.h"
#include "pelmar/platform/dispatch/Timer.h"
#include "pelmar/platform/foundation/NotificationCenter.h"

namespace pelmar::av {

struct Player::Entry {
    std::shared_ptr<PlayerItem> item;
    foundation::Observable<PlayerItem::Status>::Token token;
    foundation::Observable<std::vector<TimeRange>>::Token loadedToken;
};

struct Player::PeriodicObserver {
    double interval = 1;
    std::shared_ptr<dispatch::Queue> queue;
    TimeObserverBlock block;
    std::shared_ptr<dispatch::Timer> timer;
};

// What a change has to announce once the player's lock is released.
struct Player::Changes {
    std::optional<TimeControlStatus> control;
    bool becameReady = false;
    std::shared_ptr<PlayerItem> ended;
    std::shared_ptr<PlayerItem> failed;
    std::shared_ptr<PlayerItem> jumped;
    std::shared_ptr<PlayerItem> stalled;
    // The current item, which buffers (an HTTP item fetches its bytes) while it is current.
    std::shared_ptr<PlayerItem> current;
    std::vector<foundation::Observable<PlayerItem::Status>::Token> tokens;
    std::vector<foundation::Observable<std::vector<TimeRange>>::Token> loadedTokens;
    std::vector<std::shared_ptr<dispatch::Timer>> timers;
    std::vector<std::shared_ptr<PeriodicObserver>> ping;
    std::vector<SeekCompletion> abandonedSeeks;
    // The decoder of an item that stopped being current, stopped once the lock is released.
    std::shared_ptr<internal::PlaybackDecoder> retiredVideo;
    // The last item of the queue played to its end: its last picture (at `endSeconds` of its
    // movie) stays.
    bool keepEndPicture = false;
    double endSeconds = 0;
};

namespace {

double now() {
    return dispatch::clock().now();
}

// Runs `block` on the main thread: at once when already there, otherwise on a later turn.
void onMain(std::function<void()> block) {
    auto main = dispatch::Queue::main();
    if (main->isCurrent()) {
        block();
    } else {
        main->async(std::move(block));
    }
}

// The movie (file or URL) and the time in it that show `seconds` of `asset`.
std::optional<std::pair<std::string, double>> pictureSource(const Asset& asset, double seconds) {
    if (const auto* file = dynamic_cast<const URLAsset*>(&asset)) {
        return std::make_pair(file->location(), seconds);
    }
    if (const auto* composition = dynamic_cast<const MutableComposition*>(&asset)) {
        for (const auto& track : composition->compositionTracks()) {
            if (track->mediaType() != TrackMediaType::Video) {
                continue;
            }
            const auto segments = track->segments();
            for (auto it = segments.rbegin(); it != segments.rend(); ++it) {
                if (it->at.seconds() <= seconds || std::next(it) == segments.rend()) {
                    const double offset = std::max(0.0, seconds - it->at.seconds());
                    return std::make_pair(it->source->sourceURL(),
                                          it->sourceRange.start.seconds() + offset);
                }
            }
        }
    }
    return std::nullopt;
}

// How long a picture may be waited for: only a manual clock, which stands still while the decoder
// works, makes waiting part of showing the right picture.
double pictureWait() {
    return dispatch::clock().isManual() ? Player::kPictureWaitSeconds : 0.0;
}

}  // namespace

Player::Player() : presenter_(std::make_unique<internal::VideoPresenter>()) {}

Player::Player(std::shared_ptr<PlayerItem> item)
    : presenter_(std::make_unique<internal::VideoPresenter>()) {
    if (item) {
        insertItem(std::move(item), nullptr);
    }
}

Player::Player(const std::string& url) : Player(PlayerItem::create(url)) {}

Player::~Player() {
    std::vector<Entry> items;
    std::vector<std::shared_ptr<dispatch::Timer>> timers;
    {
        MutexLock lock(mutex_);
        items.swap(items_);
        timers.push_back(endTimer_);
        for (const auto& observer : observers_) {
            timers.push_back(observer->timer);
        }
    }
    for (const auto& timer : timers) {
        if (timer) {
            timer->invalidate();
        }
    }
    // Resetting the tokens waits for item observers running elsewhere; they find no owner left.
    items.clear();
}

std::shared_ptr<PlayerItem> Player::currentItem() const {
    MutexLock lock(mutex_);
    return items_.empty() ? nullptr : items_.front().item;
}

std::vector<std::shared_ptr<PlayerItem>> Player::queuedItems() const {
    MutexLock lock(mutex_);
    std::vector<std::shared_ptr<PlayerItem>> items;
    items.reserve(items_.size());
    for (const auto& entry : items_) {
        items.push_back(entry.item);
    }
    return items;
}

bool Player::insertItem(std::shared_ptr<PlayerItem> item,
                        const std::shared_ptr<PlayerItem>& after,
                        bool atFront) {
    if (!item) {
        return false;
    }
    bool becameCurrent = false;
    {
        MutexLock lock(mutex_);
        if (std::any_of(items_.begin(), items_.end(),
                        [&](const Entry& e) { return e.item == item; })) {
            return false;
        }
        auto at = std::find_if(items_.begin(), items_.end(),
                               [&](const Entry& e) { return after && e.item == after; });
        if (atFront) {
            at = items_.begin();
        } else if (at != items_.end()) {
            ++at;
        }
        items_.insert(at, Entry{item, {}, {}});
        becameCurrent = items_.front().item == item;
    }
    // Observed without the lock: the observer may run at once on another thread.
    std::weak_ptr<PlayerItem> weakItem = item;
    auto token = item->status.observe([this, weakItem](const auto& change) {
        auto self = weak_from_this().lock();
        auto observed = weakItem.lock();
        if (self && observed && change.newValue) {
            self->applyItemStatus(observed, *change.newValue);
        }
    });
    auto loadedToken = item->loadedTimeRanges.observe([this, weakItem](const auto& change) {
        auto self = weak_from_this().lock();
        auto observed = weakItem.lock();
        if (self && observed && change.newValue) {
            self->applyLoadedRanges(observed);
        }
    });
    {
        MutexLock lock(mutex_);
        auto entry = std::find_if(items_.begin(), items_.end(),
                                  [&](const Entry& e) { return e.item == item; });
        if (entry != items_.end()) {
            entry->token = std::move(token);
            entry->loadedToken = std::move(loadedToken);
        }
    }
    item->load();
    // The item may have been ready before this player took it.
    const PlayerItem::Status current = item->status.get();
    if (current != PlayerItem::Status::Unknown) {
        applyItemStatus(item, current);
    } else if (becameCurrent) {
        Changes changes;
        {
            MutexLock lock(mutex_);
            refreshLocked(changes);
        }
        announce(changes);
    }
    return true;
}

void Player::removeItem(const std::shared_ptr<PlayerItem>& item) {
    Changes changes;
    {
        MutexLock lock(mutex_);
        auto entry = std::find_if(items_.begin(), items_.end(),
                                  [&](const Entry& e) { return e.item == item; });
        if (entry == items_.end()) {
            return;
        }
        if (entry == items_.begin()) {
            dropCurrentLocked(changes);
        } else {
            changes.tokens.push_back(std::move(entry->token));
            changes.loadedTokens.push_back(std::move(entry->loadedToken));
            items_.erase(entry);
        }
        refreshLocked(changes);
    }
    announce(changes);
}

void Player::removeAllItems() {
    Changes changes;
    {
        MutexLock lock(mutex_);
        while (!items_.empty()) {
            dropCurrentLocked(changes);
        }
        presenter_->forgetLast();
        refreshLocked(changes);
    }
    announce(changes);
}

void Player::advanceToNext() {
    Changes changes;
    {
        MutexLock lock(mutex_);
        if (items_.empty()) {
            return;
        }
        dropCurrentLocked(changes);
        refreshLocked(changes);
    }
    announce(changes);
}

void Player::replaceCurrentItem(std::shared_ptr<PlayerItem> item) {
    Changes changes;
    {
        MutexLock lock(mutex_);
        if (!items_.empty() && items_.front().item == item) {
            return;
        }
        if (!items_.empty()) {
            const float rate = rate_;
            dropCurrentLocked(changes);
            rate_ = rate;
        }
        if (!item) {
            presenter_->forgetLast();
            refreshLocked(changes);
        }
    }
    announce(changes);
    if (item) {
        insertItem(std::move(item), nullptr, true);
    }
}

void Player::play() {
    setRate(1);
}

void Player::pause() {
    setRate(0);
}

float Player::rate() const {
    MutexLock lock(mutex_);
    return rate_;
}

void Player::setRate(float rate) {
    if (std::isnan(rate)) {
        return;
    }
    Changes changes;
    {
        MutexLock lock(mutex_);
        if (running_) {
            position_ = positionLocked();
            anchor_ = now();
        }
        // An item that failed to load has nothing to play: the player stays paused on it.
        const bool failed =
                !items_.empty() && items_.front().item->status.get() == PlayerItem::Status::Failed;
        rate_ = failed ? 0.0f : rate;
        refreshLocked(changes);
    }
    announce(changes);
}

float Player::volume() const {
    MutexLock lock(mutex_);
    return volume_;
}

void Player::setVolume(float volume) {
    MutexLock lock(mutex_);
    volume_ = std::isnan(volume) ? 0.0f : std::clamp(volume, 0.0f, 1.0f);
}

bool Player::isMuted() const {
    MutexLock lock(mutex_);
    return muted_;
}

void Player::setMuted(bool muted) {
    MutexLock lock(mutex_);
    muted_ = muted;
}

Player::ActionAtItemEnd Player::actionAtItemEnd() const {
    MutexLock lock(mutex_);
    return actionAtItemEnd_;
}

void Player::setActionAtItemEnd(ActionAtItemEnd action) {
    MutexLock lock(mutex_);
    actionAtItemEnd_ = action;
}

std::optional<Error> Player::error() const {
    MutexLock lock(mutex_);
    return error_;
}

double Player::durationLocked() const {
    if (items_.empty()) {
        return 0;
    }
    const media::Time duration = items_.front().item->duration();
    return duration.isNumeric() ? std::max(0.0, duration.seconds())
                                : std::numeric_limits<double>::infinity();
}

double Player::positionLocked() const {
    double position = position_;
    if (running_) {
        position += (now() - anchor_) * rate_;
    }
    return std::clamp(position, 0.0, durationLocked());
}

media::Time Player::currentTime() const {
    MutexLock lock(mutex_);
    return media::Time::makeWithSeconds(items_.empty() ? 0.0 : positionLocked(), kTimescale);
}

void Player::seek(media::Time to, SeekCompletion completion) {
    seek(to, media::Time::zero(), media::Time::zero(), std::move(completion));
}

void Player::seek(media::Time to, media::Time, media::Time, SeekCompletion completion) {
    Changes changes;
    uint64_t generation = 0;
    {
        MutexLock lock(mutex_);
        if (items_.empty()) {
            changes.abandonedSeeks.push_back(std::move(completion));
        } else {
            const double target = to.isValid() ? to.seconds() : 0.0;
            position_ = std::clamp(std::isnan(target) ? 0.0 : target, 0.0, durationLocked());
            anchor_ = now();
            if (pendingSeek_) {
                changes.abandonedSeeks.push_back(std::move(pendingSeek_));
            }
            pendingSeek_ = std::move(completion);
            generation = ++seekGeneration_;
            seekAwaitingItem_ = 0;
            // A seek into an item that is still loading ends once it has loaded (or failed).
            if (items_.front().item->status.get() == PlayerItem::Status::Unknown) {
                seekAwaitingItem_ = generation;
                generation = 0;
            }
            seeking_ = control_ == TimeControlStatus::Playing || seeking_;
            changes.jumped = items_.front().item;
            seekVideoLocked();
            refreshLocked(changes);
        }
    }
    announce(changes);
    if (generation != 0) {
        postSeekEnd(generation, true);
    }
}

void Player::seekVideoLocked() {
    const auto& item = items_.front().item;
    if (!item->asset() || !presenter_->presents(item.get())) {
        return;
    }
    // The pictures decoded for the old time are dropped at once; a seek into another movie of a
    // composition makes a new decoder instead.
    if (const auto source = pictureSource(*item->asset(), position_)) {
        presenter_->seek(item.get(), source->first, source->second);
    }
}

void Player::postSeekEnd(uint64_t generation, bool finished) {
    dispatch::Queue::main()->async([weak = weak_from_this(), generation, finished] {
        if (auto self = weak.lock()) {
            self->finishSeek(generation, finished);
        }
    });
}

void Player::finishSeek(uint64_t generation, bool finished) {
    Changes changes;
    SeekCompletion completion;
    {
        MutexLock lock(mutex_);
        if (generation != seekGeneration_) {
            return;
        }
        seeking_ = false;
        completion = std::move(pendingSeek_);
        pendingSeek_ = nullptr;
        refreshLocked(changes);
        changes.ping = observers_;
    }
    announce(changes);
    if (completion) {
        completion(finished);
    }
}

Player::TimeObserver Player::addPeriodicTimeObserver(media::Time interval,
                                                     std::shared_ptr<dispatch::Queue> queue,
                                                     TimeObserverBlock block) {
    auto observer = std::make_shared<PeriodicObserver>();
    const double seconds = interval.isNumeric() ? interval.seconds() : 0.0;
    observer->interval = std::max(seconds, dispatch::Timer::kMinimumInterval);
    observer->queue = queue ? std::move(queue) : dispatch::Queue::main();
    observer->block = std::move(block);
    Changes changes;
    {
        MutexLock lock(mutex_);
        observers_.push_back(observer);
        refreshLocked(changes);
    }
    announce(changes);
    return observer;
}

void Player::removeTimeObserver(const TimeObserver& token) {
    std::shared_ptr<dispatch::Timer> timer;
    {
        MutexLock lock(mutex_);
        auto it = std::find_if(observers_.begin(), observers_.end(),
                               [&](const auto& o) { return o == token; });
        if (it == observers_.end()) {
            return;
        }
        timer = std::move((*it)->timer);
        observers_.erase(it);
    }
    if (timer) {
        timer->invalidate();
    }
}

void Player::notifyObservers(const std::vector<std::shared_ptr<PeriodicObserver>>& observers) {
    if (observers.empty()) {
        return;
    }
    const media::Time time = currentTime();
    for (const auto& observer : observers) {
        if (observer->block) {
            observer->queue->async([block = observer->block, time] { block(time); });
        }
    }
}

void Player::applyItemStatus(const std::shared_ptr<PlayerItem>& item,
                             PlayerItem::Status itemStatus) {
    Changes changes;
    uint64_t awaitedSeek = 0;
    {
        MutexLock lock(mutex_);
        if (items_.empty() || items_.front().item != item) {
            return;
        }
        awaitedSeek = std::exchange(seekAwaitingItem_, 0);
        if (itemStatus == PlayerItem::Status::ReadyToPlay) {
            changes.becameReady = !everReady_;
            everReady_ = true;
        } else if (itemStatus == PlayerItem::Status::Failed) {
            error_ = item->error();
            if (rate_ != 0) {
                changes.failed = item;
            }
            finishCurrentLocked(changes);
        }
        refreshLocked(changes);
    }
    announce(changes);
    if (awaitedSeek != 0) {
        // An item that failed and stays current ends the seek unfinished; one that was dropped
        // has abandoned it already.
        postSeekEnd(awaitedSeek, itemStatus == PlayerItem::Status::ReadyToPlay);
    }
}

void Player::applyLoadedRanges(const std::shared_ptr<PlayerItem>& item) {
    Changes changes;
    {
        MutexLock lock(mutex_);
        if (items_.empty() || items_.front().item != item) {
            return;
        }
        // More has loaded: a stalled playback goes on, and the end timer follows the new end.
        refreshLocked(changes);
    }
    announce(changes);
}

double Player::loadedLocked() const {
    return items_.empty() ? 0.0 : items_.front().item->loadedSecondsFrom(position_);
}

bool Player::starvedLocked() const {
    if (items_.empty() || rate_ <= 0) {
        return false;
    }
    const double loaded = loadedLocked();
    return loaded < durationLocked() && positionLocked() >= loaded;
}

void Player::onItemEnd(uint64_t generation) {
    Changes changes;
    {
        MutexLock lock(mutex_);
        if (generation != endGeneration_ || items_.empty()) {
            return;
        }
        if (rate_ > 0 && loadedLocked() < durationLocked()) {
            // The end of what has loaded, not of the item: playback waits there for more.
            position_ = std::min(loadedLocked(), durationLocked());
            anchor_ = now();
        } else if (rate_ < 0) {
            // Played backwards to the start: stop there.
            position_ = 0;
            running_ = false;
            rate_ = 0;
        } else {
            position_ = durationLocked();
            running_ = false;
            changes.ended = items_.front().item;
            finishCurrentLocked(changes);
        }
        refreshLocked(changes);
    }
    announce(changes);
}

void Player::finishCurrentLocked(Changes& changes) {
    if (actionAtItemEnd_ == ActionAtItemEnd::Advance) {
        dropCurrentLocked(changes);
    } else {
        rate_ = 0;
    }
}

void Player::dropCurrentLocked(Changes& changes) {
    const auto& dropped = items_.front().item;
    if (auto retired = presenter_->release(dropped.get())) {
        changes.retiredVideo = std::move(retired);
        // The last item played to its end leaves its last picture on screen.
        const bool lastEnded = changes.ended == dropped && items_.size() == 1;
        const auto source = lastEnded && dropped->asset()
                                    ? pictureSource(*dropped->asset(), durationLocked())
                                    : std::nullopt;
        changes.keepEndPicture = source.has_value();
        changes.endSeconds = source ? source->second : 0.0;
    }
    if (!changes.keepEndPicture) {
        presenter_->forgetLast();
    }
    changes.tokens.push_back(std::move(items_.front().token));
    changes.loadedTokens.push_back(std::move(items_.front().loadedToken));
    items_.erase(items_.begin());
    position_ = 0;
    running_ = false;
    seeking_ = false;
    ++seekGeneration_;
    seekAwaitingItem_ = 0;
    if (pendingSeek_) {
        changes.abandonedSeeks.push_back(std::move(pendingSeek_));
        pendingSeek_ = nullptr;
    }
    error_.reset();
    if (items_.empty()) {
        rate_ = 0;
    } else if (items_.front().item->status.get() == PlayerItem::Status::ReadyToPlay) {
        changes.becameReady = !everReady_;
        everReady_ = true;
    }
}

void Player::refreshLocked(Changes& changes) {
    TimeControlStatus desired = TimeControlStatus::Playing;
    bool starved = false;
    if (rate_ == 0 || items_.empty()) {
        desired = TimeControlStatus::Paused;
    } else if (seeking_ || items_.front().item->status.get() != PlayerItem::Status::ReadyToPlay) {
        desired = TimeControlStatus::WaitingToPlayAtSpecifiedRate;
    } else if (starvedLocked()) {
        desired = TimeControlStatus::WaitingToPlayAtSpecifiedRate;
        starved = true;
    }
    if (starved && control_ == TimeControlStatus::Playing) {
        changes.stalled = items_.front().item;
    }
    if (!items_.empty()) {
        changes.current = items_.front().item;
    }
    if (desired == TimeControlStatus::Playing && !running_) {
        anchor_ = now();
        running_ = true;
    } else if (desired != TimeControlStatus::Playing && running_) {
        position_ = positionLocked();
        running_ = false;
    }
    if (desired != control_) {
        const bool startsOrStops =
                desired == TimeControlStatus::Playing || control_ == TimeControlStatus::Playing;
        control_ = desired;
        changes.control = desired;
        if (startsOrStops) {
            changes.ping = observers_;
        }
    }
    // The end of the item, and the periodic observers, follow the clock while running.
    ++endGeneration_;
    if (endTimer_) {
        changes.timers.push_back(std::move(endTimer_));
        endTimer_ = nullptr;
    }
    const std::weak_ptr<Player> weak = weak_from_this();
    if (running_ && !weak.expired()) {
        const double position = positionLocked();
        // Forward playback runs to the end of the item or of what has loaded, if that is sooner.
        const double until = std::min(durationLocked(), loadedLocked());
        const double remaining =
                rate_ > 0 ? (until - position) / rate_ : position / -static_cast<double>(rate_);
        if (std::isfinite(remaining)) {
            const uint64_t generation = endGeneration_;
            endTimer_ =
                    dispatch::Timer::scheduled(std::max(remaining, 0.0), false, [weak, generation] {
                        if (auto self = weak.lock()) {
                            self->onItemEnd(generation);
                        }
                    });
        }
    }
    for (const auto& observer : observers_) {
        if (running_ && !observer->timer && !weak.expired()) {
            std::weak_ptr<PeriodicObserver> weakObserver = observer;
            observer->timer =
                    dispatch::Timer::scheduled(observer->interval, true, [weak, weakObserver] {
                        auto self = weak.lock();
                        auto target = weakObserver.lock();
                        if (self && target) {
                            self->notifyObservers({target});
                        }
                    });
        } else if (!running_ && observer->timer) {
            changes.timers.push_back(std::move(observer->timer));
            observer->timer = nullptr;
        }
    }
}

void Player::announce(Changes& changes) {
    for (const auto& timer : changes.timers) {
        timer->invalidate();
    }
    if (changes.retiredVideo) {
        if (changes.keepEndPicture) {
            const auto last = changes.retiredVideo->pictureAt(changes.endSeconds, pictureWait());
            MutexLock lock(mutex_);
            if (items_.empty()) {
                presenter_->keepLast(last ? last->bitmap : nullptr);
            }
        }
        // Stops and joins its thread, which never waits for the player.
        changes.retiredVideo.reset();
    }
    changes.tokens.clear();
    changes.loadedTokens.clear();
    if (changes.current) {
        changes.current->startBuffering();
        startVideo(changes);
    }
    for (auto& completion : changes.abandonedSeeks) {
        if (completion) {
            dispatch::Queue::main()->async([completion] { completion(false); });
        }
    }
    auto self = weak_from_this().lock();
    const auto post = [&self](std::string_view name, std::shared_ptr<PlayerItem> item,
                              Json info = Json::object()) {
        // Held by the block so that a player dropped meanwhile still delivers what it owes.
        onMain([self, name, item = std::move(item), info = std::move(info)] {
            foundation::NotificationCenter::defaultCenter().post(name, item, info);
        });
    };
    // The status is told before the notices, so that a delegate hears the player pause before
    // it hears the item's end.
    if (changes.becameReady) {
        status.set(Status::ReadyToPlay);
    }
    if (changes.control) {
        publishControl();
    }
    if (changes.jumped) {
        post(kPlayerItemTimeJumpedNotification, changes.jumped);
    }
    if (changes.failed) {
        const auto error = changes.failed->error();
        post(kPlayerItemFailedToPlayToEndTimeNotification, changes.failed,
             Json{{"error", error ? error->description() : std::string()}});
    }
    if (changes.stalled) {
        post(kPlayerItemPlaybackStalledNotification, changes.stalled);
    }
    if (changes.ended) {
        post(kPlayerItemDidPlayToEndTimeNotification, changes.ended);
    }
    notifyObservers(changes.ping);
}

void Player::publishControl() {
    // One publisher at a time, each telling the status as it is now rather than as it was when
    // its change was made: a change announced late on one thread cannot undo a later one.
    RecursiveMutexLock publishing(publishMutex_);
    TimeControlStatus value = TimeControlStatus::Paused;
    {
        MutexLock lock(mutex_);
        value = control_;
    }
    if (value == published_) {
        return;
    }
    published_ = value;
    timeControlStatus.set(value);
}

void Player::startVideo(Changes& changes) {
    {
        MutexLock lock(mutex_);
        if (!presenter_->prepared() || items_.empty() || items_.front().item != changes.current
            || presenter_->presents(changes.current.get())) {
            return;
        }
    }
    double seconds = 0;
    (void)videoNow(seconds);
}

void Player::prepareVideo() {
    if (!presenter_->prepare()) {
        return;
    }
    double seconds = 0;
    (void)videoNow(seconds);
}

std::shared_ptr<internal::PlaybackDecoder> Player::videoNow(double& sourceSeconds) {
    std::shared_ptr<PlayerItem> item;
    double position = 0;
    {
        MutexLock lock(mutex_);
        if (items_.empty()) {
            return nullptr;
        }
        item = items_.front().item;
        position = positionLocked();
    }
    if (item->status.get() != PlayerItem::Status::ReadyToPlay || !item->asset()
        || item->asset()->tracks(TrackMediaType::Video).empty()) {
        return nullptr;
    }
    const auto source = pictureSource(*item->asset(), position);
    if (!source || source->first.empty()) {
        return nullptr;
    }
    sourceSeconds = source->second;
    // A remote item's movie is read from the bytes its own fetch brings, not fetched again.
    auto cache = item->fetchedBytesOf(source->first);
    // Declared before the lock so that a replaced decoder is joined after it is released.
    std::shared_ptr<internal::PlaybackDecoder> retired;
    MutexLock lock(mutex_);
    if (items_.empty() || items_.front().item != item) {
        return nullptr;
    }
    return presenter_->use(item.get(), source->first, std::move(cache), retired);
}

std::shared_ptr<const image::Bitmap> Player::currentPicture(int maxWidth, int maxHeight) {
    double seconds = 0;
    const auto video = videoNow(seconds);
    if (!video) {
        MutexLock lock(mutex_);
        return items_.empty() ? presenter_->lastPicture() : nullptr;
    }
    return presenter_->present(video, seconds, maxWidth, maxHeight, pictureWait());
}

std::shared_ptr<image::Bitmap> Player::copyCurrentPicture(int maxWidth, int maxHeight) {
    double seconds = 0;
    const auto video = videoNow(seconds);
    return video ? internal::VideoPresenter::copy(video, seconds, maxWidth, maxHeight,
                                                  pictureWait())
                 : nullptr;
}

int64_t Player::videoFramesDecoded() const {
    return presenter_->framesDecoded();
}

}  // namespace pelmar::av

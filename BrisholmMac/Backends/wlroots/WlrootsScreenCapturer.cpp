#include "Backends/wlroots/WlrootsScreenCapturer.hpp"

#include <libyuv/convert_argb.h>
#include <libyuv/planar_functions.h>
#include <libyuv/scale_argb.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <wlr-screencopy-unstable-v1-client-protocol.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ranges>
#include <set>
#include <utility>
#include <vector>

#include "Backends/wlroots/ScreencopyRules.hpp"
#include "Backends/wlroots/WaylandConnection.hpp"
#include "Backends/wlroots/WaylandOutputs.hpp"
#include "Log/DiagnosticLog.hpp"

namespace vantrel::wayland {

namespace {

// Frames are copied into these buffers: one the compositor fills, one waiting for or in the
// encoder, one kept as the last frame (which may be the one being encoded).
constexpr std::size_t frameBuffers = 3;

// How long a streamer may rest on the connection's news at most. Everything that matters comes
// as news (a copy is answered only once something changed, outputs are announced), so this is
// only a guard.
constexpr auto restingLook = std::chrono::seconds(1);

// How long the first grab after watch() waits for the compositor's first copy: it comes with the
// output's next frame, which the copy request itself schedules.
constexpr auto firstCopyWait = std::chrono::milliseconds(500);

// How long a copy request waits for the compositor to name its buffers; a busy compositor that
// answers later gets its copy sent at the next look.
constexpr auto offerWait = std::chrono::milliseconds(10);

// Copies failing this often in a row, on an output that is still there, end the stream.
constexpr int failuresTolerated = 5;

// Each refusal is worth one line per process, not one per stream.
std::atomic<bool> loggedFormat{false};

// Shared memory the compositor copies an output into. Pictures over it hold it, so it may outlive
// the capturer and its connection; the wl_buffer naming it stays with the capturer.
class SharedPixels {
public:
    static std::shared_ptr<SharedPixels> make(std::size_t size) {
        const int descriptor = ::memfd_create("vantrel-capture", MFD_CLOEXEC);
        if (descriptor < 0) {
            return nullptr;
        }
        if (::ftruncate(descriptor, static_cast<off_t>(size)) != 0) {
            ::close(descriptor);
            return nullptr;
        }
        void* address = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, descriptor, 0);
        if (address == MAP_FAILED) {
            ::close(descriptor);
            return nullptr;
        }
        return std::shared_ptr<SharedPixels>(new SharedPixels(descriptor, static_cast<std::uint8_t*>(address), size));
    }

    ~SharedPixels() {
        ::munmap(bytes_, size_);
        closeDescriptor();
    }
    SharedPixels(const SharedPixels&) = delete;
    SharedPixels& operator=(const SharedPixels&) = delete;

    [[nodiscard]] int descriptor() const { return descriptor_; }
    // The compositor has its own mapping once the pool exists.
    void closeDescriptor() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
            descriptor_ = -1;
        }
    }
    [[nodiscard]] std::uint8_t* bytes() const { return bytes_; }

private:
    SharedPixels(int descriptor, std::uint8_t* bytes, std::size_t size)
        : descriptor_(descriptor), bytes_(bytes), size_(size) {}

    int descriptor_;
    std::uint8_t* bytes_;
    std::size_t size_;
};

// One frame buffer: its memory, lent to pictures, and the compositor's name for it.
struct Slot {
    ShmOffer offer;
    std::shared_ptr<SharedPixels> pixels;
    ProxyPtr<wl_buffer> buffer;
};

// A picture of the output at size from a copy that cannot be lent as it is: scaled (the output's
// pixels are not the stream's), with red and blue swapped, or upside down.
std::shared_ptr<const PixelBuffer> convertedPicture(const std::uint8_t* bytes, const ShmOffer& offer, ByteOrder order,
                                                    bool upsideDown, StreamSize size) {
    const auto width = static_cast<std::int32_t>(size.width);
    const auto height = static_cast<std::int32_t>(size.height);
    const bool sameSize = width == offer.width && height == offer.height;
    // libyuv reads a source of negative height bottom up.
    const int sourceHeight = upsideDown ? -offer.height : offer.height;
    bool converted = true;
    auto picture = PixelBuffer::make(width, height, [&](const PixelBuffer::Pixels& pixels) {
        const int targetStride = static_cast<int>(pixels.stride);
        const auto sourceStride = static_cast<int>(offer.stride);
        if (order == ByteOrder::rgba && sameSize) {
            converted = libyuv::ABGRToARGB(bytes, sourceStride, pixels.bytes, targetStride, width, sourceHeight) == 0;
        } else if (order == ByteOrder::rgba) {
            std::vector<std::uint8_t> swapped(static_cast<std::size_t>(offer.width) * 4 * offer.height);
            converted = libyuv::ABGRToARGB(bytes, sourceStride, swapped.data(), offer.width * 4, offer.width,
                                           sourceHeight) == 0 &&
                        libyuv::ARGBScale(swapped.data(), offer.width * 4, offer.width, offer.height, pixels.bytes,
                                          targetStride, width, height, libyuv::kFilterBilinear) == 0;
        } else if (sameSize) {
            converted = libyuv::ARGBCopy(bytes, sourceStride, pixels.bytes, targetStride, width, sourceHeight) == 0;
        } else {
            // Bilinear, as for X11: small text stays legible on a scaled-down output.
            converted = libyuv::ARGBScale(bytes, sourceStride, offer.width, sourceHeight, pixels.bytes, targetStride,
                                          width, height, libyuv::kFilterBilinear) == 0;
        }
    });
    return converted ? picture : nullptr;
}

class WlrootsScreenCapturer final : public ScreenCapturer {
public:
    WlrootsScreenCapturer(std::unique_ptr<WaylandConnection> connection, zwlr_screencopy_manager_v1* manager,
                          wl_shm* shm)
        : connection_(std::move(connection)),
          outputs_(std::make_unique<WaylandOutputs>(*connection_)),
          manager_(manager),
          shm_(shm) {
        seenOutputs_ = outputs_->revision();
    }

    ~WlrootsScreenCapturer() override {
        // Our side of every object goes before the connection does; pictures still lent out keep
        // their memory.
        request_.reset();
        slots_.clear();
        connection_->flush();
    }

    WlrootsScreenCapturer(const WlrootsScreenCapturer&) = delete;
    WlrootsScreenCapturer& operator=(const WlrootsScreenCapturer&) = delete;

    std::vector<MonitorFacts> monitors() override {
        if (!connection_->dispatchPending()) {
            return {};
        }
        std::vector<MonitorFacts> monitors;
        for (const auto& output : outputs_->outputs()) {
            monitors.push_back(monitorFacts(output));
        }
        return monitors;
    }

    CaptureStatus watch(const Rect& area, StreamSize size) override {
        if (!connection_->dispatchPending()) {
            return CaptureStatus::permanentError;
        }
        if (area.isEmpty() || size.width < 1 || size.height < 1) {
            return CaptureStatus::temporaryError;
        }
        const auto output = outputShowing(outputs_->outputs(), area);
        if (!output) {
            return CaptureStatus::temporaryError;
        }
        request_.reset();
        ready_.reset();
        output_ = output;
        size_ = size;
        copied_ = false;
        lastFrame_ = 0;
        lastPicture_.reset();
        failures_ = 0;
        requestCopy();
        return CaptureStatus::ok;
    }

    ScreenChanges changes() override {
        if (!connection_->dispatchPending()) {
            return failed("the connection to the Wayland compositor broke");
        }
        ScreenChanges changes;
        changes.monitors = std::exchange(copyFailed_, false) || outputs_->revision() != seenOutputs_;
        seenOutputs_ = outputs_->revision();
        if (failures_ >= failuresTolerated) {
            return failed("the compositor keeps failing to copy the output");
        }
        requestCopy();
        // A copy is answered only once something was drawn: one waiting is the change.
        changes.picture = ready_.has_value();
        return changes;
    }

    // The connection's descriptor: the answer to the copy in flight, and any news of the outputs,
    // come through it. Pointer motion that draws nothing comes as no news, and needs none: the
    // compositor draws the pointer into the copy, so a move shows as damage.
    std::optional<NewsSource> news() override { return NewsSource{connection_->descriptor(), restingLook}; }

    bool newsPending() override {
        if (!connection_->dispatchPending()) {
            return true;  // changes() says so
        }
        requestCopy();
        // With no copy in flight (every buffer still lent out) nothing would come: look again.
        const bool waitingForNothing = !request_ && !ready_ && output_ && outputs_->proxy(*output_) != nullptr;
        return ready_ || copyFailed_ || outputs_->revision() != seenOutputs_ || waitingForNothing;
    }

    CaptureResult grab() override {
        // changes() has just read what came; a copy finishing since is news for the next look.
        if (connection_->broken()) {
            return {CaptureStatus::permanentError, nullptr, "the connection to the Wayland compositor broke"};
        }
        if (!output_) {
            return {CaptureStatus::temporaryError, nullptr, "no output to capture"};
        }
        if (!ready_ && !copied_) {
            requestCopy();
            connection_->dispatchUntil(firstCopyWait, [&] { return ready_.has_value() || !request_; });
        }
        if (!ready_) {
            if (auto last = lastPicture_.lock()) {
                return {CaptureStatus::ok, std::move(last), {}};
            }
            return {CaptureStatus::temporaryError, nullptr, "the compositor has not copied the output yet"};
        }
        const Copy copy = *std::exchange(ready_, std::nullopt);
        copied_ = true;
        const Slot& slot = *slots_[copy.slot];
        const auto order = byteOrder(slot.offer.format).value_or(ByteOrder::bgra);
        const bool inPlace = order == ByteOrder::bgra && !copy.upsideDown && size_.width == slot.offer.width &&
                             size_.height == slot.offer.height;
        std::shared_ptr<const PixelBuffer> picture;
        if (inPlace) {
            // The frame is the buffer the compositor wrote, and it says where it differs from the
            // frame before (the copy's damage), so the encoder converts only that part.
            std::optional<PixelBuffer::Change> change;
            if (lastFrame_ != 0 && copy.damage) {
                change = PixelBuffer::Change{lastFrame_, copy.damage->x, copy.damage->y, copy.damage->width,
                                             copy.damage->height};
            }
            picture = PixelBuffer::adopt(slot.offer.width, slot.offer.height, slot.offer.stride, slot.pixels->bytes(),
                                         slot.pixels, change);
        } else {
            picture = convertedPicture(slot.pixels->bytes(), slot.offer, order, copy.upsideDown, size_);
        }
        lastFrame_ = inPlace && picture ? picture->serial() : 0;
        lastPicture_ = picture;
        requestCopy();
        if (!picture) {
            return {CaptureStatus::temporaryError, nullptr, "the frame could not be assembled"};
        }
        return {CaptureStatus::ok, std::move(picture), {}};
    }

private:
    // The copy request in flight: what the compositor offered, and what its answer said so far.
    struct Request {
        ProxyPtr<zwlr_screencopy_frame_v1> frame;
        bool withDamage = true;
        std::vector<ShmOffer> offers;
        std::optional<std::size_t> slot;
        std::optional<PixelBox> damage;
        bool upsideDown = false;
    };

    // A finished copy not yet handed out. damage: where it differs from the copy before, none
    // when unknown (a plain copy).
    struct Copy {
        std::size_t slot = 0;
        std::optional<PixelBox> damage;
        bool upsideDown = false;
    };

    static const zwlr_screencopy_frame_v1_listener frameListener;

    static ScreenChanges failed(std::string reason) {
        ScreenChanges changes;
        changes.status = CaptureStatus::permanentError;
        changes.reason = std::move(reason);
        return changes;
    }

    // A buffer no picture holds and no copy waits in, for a request about to be made.
    [[nodiscard]] bool slotAvailable() const {
        return slots_.size() < frameBuffers || std::ranges::any_of(std::views::iota(std::size_t{0}, slots_.size()),
                                                                   [this](std::size_t index) { return isFree(index); });
    }

    [[nodiscard]] bool isFree(std::size_t index) const {
        // Only this queue lends buffers out, so a count of one cannot grow behind our back.
        return slots_[index]->pixels.use_count() == 1 && (!ready_ || ready_->slot != index) &&
               (!request_ || request_->slot != index);
    }

    // Keeps one copy in flight while an output is watched and no finished copy waits.
    void requestCopy() {
        if (request_ || ready_ || !output_ || connection_->broken()) {
            return;
        }
        wl_output* output = outputs_->proxy(*output_);
        if (output == nullptr || !slotAvailable()) {
            return;
        }
        request_.emplace();
        // The compositor answers a copy with damage only once something changed since its last
        // such copy for us. An output we copied before may have nothing new: the first copy after
        // watch() is a plain one, so the stream's first picture comes at once.
        request_->withDamage = copied_ || !followedWithDamage_.contains(*output_);
        request_->frame.reset(zwlr_screencopy_manager_v1_capture_output(manager_.get(), 1, output));
        zwlr_screencopy_frame_v1_add_listener(request_->frame.get(), &frameListener, this);
        connection_->flush();
        // The compositor names the buffers it can copy into at once. Answering now rather than at
        // the next look lets the copy catch the output's next frame: a look later, every other
        // frame of a moving screen would be missed.
        connection_->dispatchUntil(offerWait, [&] { return !request_ || request_->slot.has_value(); });
    }

    // The compositor has offered its buffers: copy into one of ours that fits.
    void copyInto() {
        const auto offer = chooseOffer(request_->offers);
        if (!offer) {
            if (!loggedFormat.exchange(true)) {
                diagnosticLog().warn("capture: the compositor offers no 32-bit RGB shared-memory buffer to copy into");
            }
            copyFailedNow();
            return;
        }
        const auto slot = slotFor(*offer);
        if (!slot) {
            // Every buffer is lent out or could not be made: ask again at the next look.
            request_.reset();
            return;
        }
        request_->slot = slot;
        wl_buffer* const buffer = slots_[slot.value()]->buffer.get();
        if (request_->withDamage) {
            zwlr_screencopy_frame_v1_copy_with_damage(request_->frame.get(), buffer);
        } else {
            zwlr_screencopy_frame_v1_copy(request_->frame.get(), buffer);
        }
        connection_->flush();
    }

    // A free buffer of offer's layout: one there is, a new one while fewer than frameBuffers
    // exist, else a free one remade (the output changed its mode).
    std::optional<std::size_t> slotFor(const ShmOffer& offer) {
        std::optional<std::size_t> reusable;
        for (std::size_t index = 0; index < slots_.size(); ++index) {
            if (isFree(index)) {
                if (slots_[index]->offer == offer) {
                    std::atomic_thread_fence(std::memory_order_acquire);  // the encoder's reads came first
                    return index;
                }
                reusable = index;
            }
        }
        auto slot = makeSlot(offer);
        if (!slot) {
            return std::nullopt;
        }
        if (slots_.size() < frameBuffers) {
            slots_.push_back(std::move(slot));
            return slots_.size() - 1;
        }
        if (reusable) {
            slots_[*reusable] = std::move(slot);
        }
        return reusable;
    }

    std::unique_ptr<Slot> makeSlot(const ShmOffer& offer) {
        const auto size = static_cast<std::size_t>(offer.stride) * static_cast<std::size_t>(offer.height);
        auto pixels = SharedPixels::make(size);
        if (!pixels) {
            diagnosticLog().warn("capture: cannot make {} bytes of shared memory ({})", size, std::strerror(errno));
            return nullptr;
        }
        auto slot = std::make_unique<Slot>();
        slot->offer = offer;
        ProxyPtr<wl_shm_pool> pool(
            wl_shm_create_pool(shm_.get(), pixels->descriptor(), static_cast<std::int32_t>(size)));
        slot->buffer.reset(wl_shm_pool_create_buffer(pool.get(), 0, offer.width, offer.height,
                                                     static_cast<std::int32_t>(offer.stride), offer.format));
        pool.reset();
        pixels->closeDescriptor();
        slot->pixels = std::move(pixels);
        return slot;
    }

    void copyFailedNow() {
        request_.reset();
        ++failures_;
        copyFailed_ = true;
        // What the compositor counted as damage since our last copy is unknown now.
        lastFrame_ = 0;
    }

    void copyReady() {
        if (!request_->slot) {
            copyFailedNow();
            return;
        }
        Copy copy{*request_->slot, std::nullopt, request_->upsideDown};
        if (request_->withDamage) {
            followedWithDamage_.insert(*output_);
            const auto& offer = slots_[copy.slot]->offer;
            // A copy with damage but no rectangle differs anywhere.
            copy.damage = request_->damage.value_or(PixelBox{0, 0, offer.width, offer.height});
        }
        ready_ = copy;
        request_.reset();
        failures_ = 0;
    }

    std::unique_ptr<WaylandConnection> connection_;
    std::unique_ptr<WaylandOutputs> outputs_;
    ProxyPtr<zwlr_screencopy_manager_v1> manager_;
    ProxyPtr<wl_shm> shm_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::optional<Request> request_;
    std::optional<Copy> ready_;

    std::optional<std::uint32_t> output_;  // the watched output's registry name
    StreamSize size_;
    bool copied_ = false;  // a copy was handed out since watch()
    // Outputs copied with damage on this connection: the compositor keeps counting damage for them.
    std::set<std::uint32_t> followedWithDamage_;
    std::uint64_t lastFrame_ = 0;  // serial of the last frame lent in place; 0 for none
    std::weak_ptr<const PixelBuffer> lastPicture_;
    std::uint64_t seenOutputs_ = 0;  // the outputs' revision as the last changes() saw it
    bool copyFailed_ = false;        // a copy failed since the last changes()
    int failures_ = 0;               // copies failed in a row
};

const zwlr_screencopy_frame_v1_listener WlrootsScreenCapturer::frameListener = {
    .buffer =
        [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t format, std::uint32_t width, std::uint32_t height,
           std::uint32_t stride) {
            auto& self = *static_cast<WlrootsScreenCapturer*>(data);
            self.request_->offers.push_back(
                {format, static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), stride});
            // Before version 3 this one offer is all there is.
            if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(self.request_->frame.get())) < 3) {
                self.copyInto();
            }
        },
    .flags =
        [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t flags) {
            static_cast<WlrootsScreenCapturer*>(data)->request_->upsideDown =
                (flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
        },
    .ready = [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t,
                std::uint32_t) { static_cast<WlrootsScreenCapturer*>(data)->copyReady(); },
    .failed = [](void* data, zwlr_screencopy_frame_v1*) { static_cast<WlrootsScreenCapturer*>(data)->copyFailedNow(); },
    .damage =
        [](void* data, zwlr_screencopy_frame_v1*, std::uint32_t x, std::uint32_t y, std::uint32_t width,
           std::uint32_t height) {
            auto& self = *static_cast<WlrootsScreenCapturer*>(data);
            auto& request = *self.request_;
            if (!request.slot) {
                return;
            }
            const auto& offer = self.slots_[*request.slot]->offer;
            const auto box = clippedDamage(x, y, width, height, offer.width, offer.height);
            request.damage = request.damage.value_or(PixelBox{}).united(box);
        },
    .linux_dmabuf = [](void*, zwlr_screencopy_frame_v1*, std::uint32_t, std::uint32_t, std::uint32_t) {},
    .buffer_done = [](void* data, zwlr_screencopy_frame_v1*) { static_cast<WlrootsScreenCapturer*>(data)->copyInto(); },
};

}  // namespace

std::unique_ptr<ScreenCapturer> makeWlrootsCapturer(const std::optional<std::string>& displayName) {
    auto connection = WaylandConnection::open("capture", displayName);
    if (!connection) {
        return nullptr;
    }
    ProxyPtr<zwlr_screencopy_manager_v1> manager(
        connection->bindFirst<zwlr_screencopy_manager_v1>(zwlr_screencopy_manager_v1_interface, 3));
    if (!manager || wl_proxy_get_version(reinterpret_cast<wl_proxy*>(manager.get())) < 2) {
        diagnosticLog().warn("capture: the compositor offers no wlr-screencopy with damage (version 2)");
        return nullptr;
    }
    ProxyPtr<wl_shm> shm(connection->bindFirst<wl_shm>(wl_shm_interface, 1));
    if (!shm) {
        diagnosticLog().warn("capture: the compositor offers no shared memory (wl_shm)");
        return nullptr;
    }
    return std::make_unique<WlrootsScreenCapturer>(std::move(connection), manager.release(), shm.release());
}

}  // namespace vantrel::wayland

#include "Backends/wlroots/WlrootsInputDevice.hpp"

#include <sys/mman.h>
#include <unistd.h>
#include <virtual-keyboard-unstable-v1-client-protocol.h>
#include <wayland-client.h>
#include <wlr-virtual-pointer-unstable-v1-client-protocol.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <tuple>

#include "Backends/wlroots/VirtualInput.hpp"
#include "Backends/wlroots/WaylandConnection.hpp"
#include "Backends/wlroots/WaylandOutputs.hpp"
#include "Backends/wlroots/WaylandProxies.hpp"
#include "Input/XkbKeymap.hpp"
#include "Log/DiagnosticLog.hpp"

namespace vantrel {

namespace {

using wayland::ProxyPtr;
using wayland::WaylandConnection;
using wayland::WaylandOutputs;

// The newest wl_seat whose requests and events this device knows.
constexpr std::uint32_t seatVersion = 7;

// A descriptor owned: closed when it goes.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    [[nodiscard]] int get() const { return fd_; }

private:
    int fd_;
};

// A read-only view of the first size bytes of a file, unmapped when it goes.
class Mapping {
public:
    Mapping(int fd, std::size_t size) : size_(size) {
        void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        data_ = data == MAP_FAILED ? nullptr : static_cast<const char*>(data);
    }
    ~Mapping() {
        if (data_ != nullptr) {
            ::munmap(const_cast<char*>(data_), size_);
        }
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
    // The text up to its terminating zero; empty when the file could not be mapped.
    [[nodiscard]] std::string_view text() const {
        return data_ != nullptr ? std::string_view(data_, ::strnlen(data_, size_)) : std::string_view();
    }

private:
    const char* data_ = nullptr;
    std::size_t size_;
};

std::uint32_t milliseconds() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

// The modifier state as the virtual keyboard's modifiers request takes it.
using ModifierState = std::tuple<xkb_mod_mask_t, xkb_mod_mask_t, xkb_mod_mask_t, xkb_layout_index_t>;

}  // namespace

struct WlrootsInputDevice::State {
    // Declared first, so that it goes last: every proxy below belongs to it.
    std::unique_ptr<WaylandConnection> connection;
    std::unique_ptr<WaylandOutputs> outputs;
    ProxyPtr<wl_seat> seat;
    ProxyPtr<wl_keyboard> seatKeyboard;
    ProxyPtr<zwp_virtual_keyboard_manager_v1> keyboardManager;
    ProxyPtr<zwlr_virtual_pointer_manager_v1> pointerManager;
    ProxyPtr<zwp_virtual_keyboard_v1> keyboard;
    ProxyPtr<zwlr_virtual_pointer_v1> pointer;
    std::uint32_t capabilities = 0;
    // sway gives a new virtual keyboard a keymap of its own making (its default layout) before our
    // first upload replaces it, and the seat hands that to clients: it is not the desk's.
    bool settingUp = true;

    XkbContextPtr context;
    // The desk's keymap as the seat sent it, and compiled.
    std::string deskText;
    std::optional<XkbKeymap> desk;
    std::uint64_t generation = 0;
    // Characters lent to the desk keymap's empty keys, and whether the virtual keyboard has yet to
    // get the keymap that carries them.
    std::map<Keycode, xkb_keysym_t> bindings;
    bool uploadNeeded = true;
    // Our own keyboard's state: the compositor takes a virtual keyboard's modifiers as the client
    // sends them, so this state follows every key we press and says what to send.
    XkbStatePtr keyState;
    std::optional<ModifierState> sentModifiers;
    std::set<Keycode> keysDown;
    std::set<std::uint32_t> buttonsDown;
    std::optional<Point> placed;
    bool brokenLogged = false;
    bool noOutputsLogged = false;
    // The compositor read nothing of ours for a while: until it reads again, input is dropped
    // without waiting, so a stopped compositor does not stall the phone's every event.
    bool stalled = false;

    bool usable() {
        if (connection && !connection->broken()) {
            return true;
        }
        if (!brokenLogged) {
            brokenLogged = true;
            diagnosticLog().warn("input: the connection to the Wayland compositor is lost; input is dropped");
        }
        return false;
    }

    // Whether the next requests can go out: the connection works and, at the end of each batch,
    // the compositor has read what was sent before. A busy compositor gets a moment (a pasted
    // paragraph easily outruns it); one that reads nothing for that long loses input rather than
    // the connection. Requests go out in batches, not one write per key: the compositor passes
    // keys on to the focused application as they come, and an application sent one small write per
    // key fills its socket after a few hundred of them, after which the compositor drops it.
    bool canSend() {
        if (!usable()) {
            return false;
        }
        if (!stalled && ++sentInBatch < batchSize) {
            return true;
        }
        sentInBatch = 0;
        const bool wasStalled = stalled;
        stalled = !connection->makeRoom(wasStalled ? std::chrono::milliseconds(0) : stallLimit);
        if (stalled && !wasStalled && usable()) {
            diagnosticLog().warn(
                "input: the Wayland compositor has read nothing for {} ms; input is dropped until it does",
                stallLimit.count());
        } else if (!stalled && wasStalled) {
            diagnosticLog().info("input: the Wayland compositor reads input again");
        }
        return !stalled && usable();
    }
    static constexpr std::chrono::milliseconds stallLimit{1000};
    // Each call queues at most three requests (84 bytes): a batch stays well inside the 4 KB that
    // libwayland holds before it must write.
    static constexpr int batchSize = 32;
    int sentInBatch = 0;

    // Takes keymap text as the desk's: compiled, with a fresh state for our keyboard (the keys we
    // hold stay held). A keymap after the first counts as a replacement, which drops the characters
    // lent to its keys. False when it does not compile.
    bool adoptDesk(std::string text, const char* source) {
        XkbKeymapPtr compiled(xkb_keymap_new_from_string(context.get(), text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                         XKB_KEYMAP_COMPILE_NO_FLAGS));
        if (!compiled) {
            diagnosticLog().warn("input: the keymap of {} does not compile; keeping the one before", source);
            return false;
        }
        const bool replacing = desk.has_value();
        desk.emplace(std::move(compiled));
        deskText = std::move(text);
        keyState.reset(xkb_state_new(desk->get()));
        for (const Keycode held : keysDown) {
            xkb_state_update_key(keyState.get(), held, XKB_KEY_DOWN);
        }
        sentModifiers.reset();
        bindings.clear();
        uploadNeeded = true;
        if (replacing) {
            ++generation;
            diagnosticLog().info("input: the desk's keymap changed; typing with the new one");
        }
        return true;
    }

    // A keymap the seat sent to our own view of its keyboard: the desk's, or one of our uploads
    // coming back (the seat's keymap is the one of the keyboard that typed last).
    void handleKeymap(std::uint32_t format, int fd, std::uint32_t size) {
        const Descriptor owned(fd);
        if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 || size == 0 || (settingUp && desk)) {
            return;
        }
        {
            // Our mark is in the first lines: a look at them spares mapping a whole keymap of ours
            // at every upload.
            const Mapping start(fd, std::min<std::size_t>(size, 4096));
            if (wayland::isOurKeymap(start.text())) {
                return;
            }
        }
        const Mapping whole(fd, size);
        const auto text = whole.text();
        if (text.empty() || text == deskText) {
            return;
        }
        adoptDesk(std::string(text), "the seat's keyboard");
    }

    // xkbcommon's default keymap (RMLVO from XKB_DEFAULT_*, else us on pc105).
    bool adoptDefaults() {
        const XkbKeymapPtr fallback(xkb_keymap_new_from_names(context.get(), nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS));
        if (!fallback) {
            diagnosticLog().warn("input: xkbcommon's default keymap does not compile (is xkb-data installed?)");
            return false;
        }
        char* text = xkb_keymap_get_as_string(fallback.get(), XKB_KEYMAP_FORMAT_TEXT_V1);
        if (text == nullptr) {
            return false;
        }
        std::string copy(text);
        std::free(text);
        const char* layout = std::getenv("XKB_DEFAULT_LAYOUT");
        diagnosticLog().info(
            "input: the seat has no keyboard with a keymap (none at the desk?); typing with xkbcommon's default "
            "layout \"{}\"",
            layout != nullptr && *layout != '\0' ? layout : "us");
        return adoptDesk(std::move(copy), "xkbcommon's defaults");
    }

    // Gives the virtual keyboard the desk's keymap with the characters lent to its keys, when it has
    // not got that one yet, and waits until the compositor has taken it: a key sent afterwards is
    // read with it, also the very first one (a key right after a virtual keyboard's first keymap
    // can be lost otherwise).
    void uploadIfNeeded() {
        if (!uploadNeeded || !desk) {
            return;
        }
        uploadNeeded = false;
        const auto text = wayland::typingKeymap(deskText, desk->get(), bindings);
        if (!text) {
            diagnosticLog().warn("input: the desk's keymap is not in a form this host can extend");
            return;
        }
        const Descriptor file(::memfd_create("vantrel-keymap", MFD_CLOEXEC));
        if (file.get() < 0 || ::ftruncate(file.get(), static_cast<off_t>(text->size())) != 0 ||
            ::pwrite(file.get(), text->data(), text->size(), 0) != static_cast<ssize_t>(text->size())) {
            diagnosticLog().warn("input: cannot hand the keymap to the compositor ({})", std::strerror(errno));
            return;
        }
        zwp_virtual_keyboard_v1_keymap(keyboard.get(), WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, file.get(),
                                       static_cast<std::uint32_t>(text->size()));
        // A new keymap gives the compositor's side of our keyboard a fresh state: the locks go.
        sentModifiers.reset();
        sendModifiers();
        connection->roundtrip();
    }

    // The desk's keymap as it is now: a new one the seat sent meanwhile is taken in first, so the
    // key after a change of layout at the desk already types with it.
    const XkbKeymap& currentDesk() {
        if (usable()) {
            connection->dispatchPending();
        }
        return *desk;
    }

    void sendModifiers() {
        const ModifierState now{xkb_state_serialize_mods(keyState.get(), XKB_STATE_MODS_DEPRESSED),
                                xkb_state_serialize_mods(keyState.get(), XKB_STATE_MODS_LATCHED),
                                xkb_state_serialize_mods(keyState.get(), XKB_STATE_MODS_LOCKED),
                                xkb_state_serialize_layout(keyState.get(), XKB_STATE_LAYOUT_EFFECTIVE)};
        if (sentModifiers == now) {
            return;
        }
        sentModifiers = now;
        zwp_virtual_keyboard_v1_modifiers(keyboard.get(), std::get<0>(now), std::get<1>(now), std::get<2>(now),
                                          std::get<3>(now));
    }

    // A key or button goes down once and up once: the compositor counts every press of a virtual
    // device, so a second press of a held button would take two releases to end, and a seat with a
    // button down keeps the focus where the press was.
    void key(Keycode keycode, bool down) {
        const auto code = wayland::evdevKeycode(keycode);
        if (!code || keysDown.contains(keycode) == down || !canSend()) {
            return;
        }
        uploadIfNeeded();
        zwp_virtual_keyboard_v1_key(keyboard.get(), milliseconds(), *code,
                                    down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
        if (down) {
            keysDown.insert(keycode);
        } else {
            keysDown.erase(keycode);
        }
        // As a real keyboard's: the key first, then the modifiers it changed.
        xkb_state_update_key(keyState.get(), keycode, down ? XKB_KEY_DOWN : XKB_KEY_UP);
        sendModifiers();
    }

    void button(std::uint32_t code, bool down) {
        if (buttonsDown.contains(code) == down || !canSend()) {
            return;
        }
        zwlr_virtual_pointer_v1_button(pointer.get(), milliseconds(), code,
                                       down ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
        zwlr_virtual_pointer_v1_frame(pointer.get());
        if (down) {
            buttonsDown.insert(code);
        } else {
            buttonsDown.erase(code);
        }
    }

    static const wl_seat_listener seatListener;
    static const wl_keyboard_listener keyboardListener;
};

const wl_seat_listener WlrootsInputDevice::State::seatListener = {
    .capabilities = [](void* data, wl_seat*,
                       std::uint32_t capabilities) { static_cast<State*>(data)->capabilities = capabilities; },
    .name = [](void*, wl_seat*, const char*) {},
};

const wl_keyboard_listener WlrootsInputDevice::State::keyboardListener = {
    .keymap = [](void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd,
                 std::uint32_t size) { static_cast<State*>(data)->handleKeymap(format, fd, size); },
    .enter = [](void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {},
    .leave = [](void*, wl_keyboard*, std::uint32_t, wl_surface*) {},
    .key = [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
    .modifiers = [](void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {},
    .repeat_info = [](void*, wl_keyboard*, std::int32_t, std::int32_t) {},
};

WlrootsInputDevice::WlrootsInputDevice(std::unique_ptr<State> state) : state_(std::move(state)) {}

WlrootsInputDevice::~WlrootsInputDevice() {
    State& s = *state_;
    // The keymaps the seat still sends are of no more use (and would be taken for the desk's news).
    s.seatKeyboard.reset();
    if (s.keyboard && s.pointer && s.usable()) {
        // What a compositor does with keys still down on a keyboard that goes differs between
        // versions; nothing is left to chance.
        const auto keys = s.keysDown;
        for (const Keycode keycode : keys) {
            s.key(keycode, false);
        }
        const auto buttons = s.buttonsDown;
        for (const std::uint32_t code : buttons) {
            s.button(code, false);
        }
        s.keyboard.reset();
        s.pointer.reset();
        s.connection->roundtrip();
    }
}

std::shared_ptr<WlrootsInputDevice> WlrootsInputDevice::open(const std::optional<std::string>& displayName) {
    auto state = std::make_unique<State>();
    state->connection = WaylandConnection::open("input", displayName);
    if (!state->connection) {
        return nullptr;
    }
    WaylandConnection& connection = *state->connection;
    state->seat.reset(connection.bindFirst<wl_seat>(wl_seat_interface, seatVersion));
    state->keyboardManager.reset(
        connection.bindFirst<zwp_virtual_keyboard_manager_v1>(zwp_virtual_keyboard_manager_v1_interface, 1));
    state->pointerManager.reset(
        connection.bindFirst<zwlr_virtual_pointer_manager_v1>(zwlr_virtual_pointer_manager_v1_interface, 2));
    if (!state->seat || !state->keyboardManager || !state->pointerManager) {
        diagnosticLog().warn("input: the compositor offers no {}; the phone cannot operate it",
                             !state->seat              ? "seat"
                             : !state->keyboardManager ? "virtual keyboard (zwp_virtual_keyboard_manager_v1)"
                                                       : "virtual pointer (zwlr_virtual_pointer_manager_v1)");
        return nullptr;
    }
    state->context.reset(xkb_context_new(XKB_CONTEXT_NO_FLAGS));
    if (!state->context) {
        diagnosticLog().warn("input: cannot make an xkbcommon context");
        return nullptr;
    }
    State* const s = state.get();
    wl_seat_add_listener(state->seat.get(), &State::seatListener, s);
    if (!connection.roundtrip()) {
        return nullptr;
    }
    // The seat's keymap, before our own keyboard joins the seat and becomes the one it hands out.
    if ((state->capabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0) {
        state->seatKeyboard.reset(wl_seat_get_keyboard(state->seat.get()));
        wl_keyboard_add_listener(state->seatKeyboard.get(), &State::keyboardListener, s);
        if (!connection.roundtrip()) {
            return nullptr;
        }
    }
    if (!state->desk && !state->adoptDefaults()) {
        return nullptr;
    }
    state->outputs = std::make_unique<WaylandOutputs>(connection);
    state->keyboard.reset(
        zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(state->keyboardManager.get(), state->seat.get()));
    state->pointer.reset(
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(state->pointerManager.get(), state->seat.get()));
    // The round trip after the upload takes in whatever the compositor said about our keyboard
    // before it had our keymap.
    state->uploadIfNeeded();
    state->settingUp = false;
    if (connection.broken()) {
        return nullptr;
    }
    return std::shared_ptr<WlrootsInputDevice>(new WlrootsInputDevice(std::move(state)));
}

std::optional<Point> WlrootsInputDevice::pointerLocation() {
    return state_->placed;
}

void WlrootsInputDevice::movePointer(Point to) {
    State& s = *state_;
    if (!s.canSend()) {
        return;
    }
    const auto box = wayland::layoutBox(s.outputs->logicalRects());
    const auto motion = box ? wayland::absoluteMotion(to, *box) : std::nullopt;
    if (!motion) {
        if (!s.noOutputsLogged) {
            s.noOutputsLogged = true;
            diagnosticLog().warn("input: the compositor lists no outputs; the pointer cannot be placed");
        }
        return;
    }
    // Absolute motion over the box around all outputs: the compositor spreads it over its whole
    // layout, so any point of any output can be reached without knowing which output it is on.
    zwlr_virtual_pointer_v1_motion_absolute(s.pointer.get(), milliseconds(), motion->x, motion->y, motion->xExtent,
                                            motion->yExtent);
    zwlr_virtual_pointer_v1_frame(s.pointer.get());
    s.placed = Point{box->minX() + motion->x, box->minY() + motion->y};
}

void WlrootsInputDevice::pressButton(int button, bool down) {
    State& s = *state_;
    if (!s.canSend()) {
        return;
    }
    if (const auto step = wayland::wheelStep(button)) {
        // A wheel button's press is one click of the wheel; its release says nothing.
        if (down) {
            zwlr_virtual_pointer_v1_axis_source(s.pointer.get(), WL_POINTER_AXIS_SOURCE_WHEEL);
            zwlr_virtual_pointer_v1_axis_discrete(s.pointer.get(), milliseconds(), step->axis,
                                                  wl_fixed_from_double(step->value), step->discrete);
            zwlr_virtual_pointer_v1_frame(s.pointer.get());
        }
        return;
    }
    if (const auto code = wayland::evdevButton(button)) {
        s.button(*code, down);
    }
}

void WlrootsInputDevice::pressKey(Keycode keycode, bool down) {
    state_->key(keycode, down);
}

std::optional<Keycode> WlrootsInputDevice::keycodeForKeyName(std::string_view name) {
    return state_->currentDesk().keycodeForName(name);
}

std::optional<Keycode> WlrootsInputDevice::modifierKeycode(ModifierKey key) {
    return state_->currentDesk().modifierKeycode(key);
}

std::optional<KeyStroke> WlrootsInputDevice::strokeForCharacter(char32_t character) {
    State& s = *state_;
    const xkb_keysym_t keysym = keysymForCharacter(character);
    if (keysym == XKB_KEY_NoSymbol) {
        return std::nullopt;
    }
    // Our keyboard's own group and locks decide the level: the desk's keyboard has its own state,
    // which the seat does not apply to ours.
    return s.currentDesk().strokeFor(keysym, xkb_state_serialize_layout(s.keyState.get(), XKB_STATE_LAYOUT_EFFECTIVE),
                                     xkb_state_serialize_mods(s.keyState.get(), XKB_STATE_MODS_LOCKED));
}

std::vector<Keycode> WlrootsInputDevice::spareKeycodes() {
    return state_->currentDesk().spareKeycodes();
}

bool WlrootsInputDevice::bindKeycode(Keycode keycode, std::optional<char32_t> character) {
    State& s = *state_;
    const xkb_keysym_t keysym = character ? keysymForCharacter(*character) : XKB_KEY_NoSymbol;
    if ((character && keysym == XKB_KEY_NoSymbol) || !wayland::evdevKeycode(keycode) || !s.usable()) {
        return false;
    }
    if (character) {
        s.bindings[keycode] = keysym;
    } else {
        s.bindings.erase(keycode);
    }
    // The keymap goes to the compositor before the next key (or at the next flush): keys emptied
    // one after the other cost one upload, and a key bound is never pressed before its keymap.
    s.uploadNeeded = true;
    return true;
}

bool WlrootsInputDevice::syncWithFocusedClient() {
    // Nothing to wait for: the compositor hands a client keymaps and keys in the order our
    // keyboard sent them, so a key typed before a rebinding is read with the keymap it was typed
    // with, whenever the client gets to it.
    return state_->usable();
}

std::uint64_t WlrootsInputDevice::keymapGeneration() {
    State& s = *state_;
    if (s.usable()) {
        s.connection->dispatchPending();
    }
    return s.generation;
}

void WlrootsInputDevice::flush() {
    State& s = *state_;
    if (!s.usable()) {
        return;
    }
    s.uploadIfNeeded();
    // Sends what is queued and takes the seat's news (keymaps, outputs), so they do not pile up.
    s.connection->dispatchPending();
}

}  // namespace vantrel

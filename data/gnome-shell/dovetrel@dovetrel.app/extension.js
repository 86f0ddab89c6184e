// Dovetrel's part inside GNOME Shell. GNOME lets no client put a surface above every window or
// learn when input rests, so the program asks this extension over D-Bus to show its square and
// its panel button, and hears back what happens on them. Every decision stays in the program:
// this file only draws and reports, and answers the one client that attached.
//
// To try it from the source tree: link this folder into ~/.local/share/gnome-shell/extensions/,
// log in again (Wayland) and `gnome-extensions enable dovetrel@dovetrel.app`.
import Clutter from 'gi://Clutter';
import Gio from 'gi://Gio';
import GLib from 'gi://GLib';
import Mtk from 'gi://Mtk';
import St from 'gi://St';

import {Extension} from 'resource:///org/gnome/shell/extensions/extension.js';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import * as PanelMenu from 'resource:///org/gnome/shell/ui/panelMenu.js';
import * as PopupMenu from 'resource:///org/gnome/shell/ui/popupMenu.js';

const BUS_NAME = 'app.dovetrel.Shell';
const OBJECT_PATH = '/app/dovetrel/Shell';
const INTERFACE = 'app.dovetrel.Shell1';
const CLIENT_NAME = 'app.dovetrel.Dovetrel';
const VERSION = 1;
// Until the program names one with SetIcon.
const DEFAULT_ICON = 'app.dovetrel.Dovetrel-active-symbolic';

const ACCESS_DENIED = 'org.freedesktop.DBus.Error.AccessDenied';
const INVALID_ARGS = 'org.freedesktop.DBus.Error.InvalidArgs';

export default class DovetrelExtension extends Extension {
    enable() {
        this._client = null;
        this._clientWatch = 0;
        this._idleWatch = 0;
        this._idleRestartWatch = 0;
        this._inputWatch = 0;
        this._square = null;
        this._button = null;
        this._icon = null;
        this._iconName = DEFAULT_ICON;

        // The interface is read from the one XML file the program is built against (a symlink
        // to it in the source tree, a copy where installed), so the two cannot drift apart.
        const [, xml] = this.dir.get_child(`${INTERFACE}.xml`).load_contents(null);
        this._service = Gio.DBusExportedObject.wrapJSObject(
            new TextDecoder().decode(xml), this._handlers());
        this._service.export(Gio.DBus.session, OBJECT_PATH);
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, BUS_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null);
    }

    disable() {
        // Also runs as the screen locks: the client hears that the square and button are gone
        // so it stops counting on them until the name comes back.
        this._emit('Gone');
        this._detach();
        this._service.unexport();
        this._service = null;
        Gio.bus_unown_name(this._nameId);
        this._nameId = 0;
    }

    // Every method is an ...Async handler, the only kind that sees its invocation and so its
    // sender: nobody but the attached client may call anything but Attach.
    _handlers() {
        const methods = {
            WatchIdle: milliseconds => this._watchIdle(milliseconds),
            WatchInput: () => this._watchInput(),
            StopWatchingInput: () => this._stopWatchingInput(),
            GetPointer: () => new GLib.Variant('(ddu)', global.get_pointer()),
            SetSquare: (x, y, side, drawing) => this._square.place(x, y, side, drawing),
            ShowSquare: () => this._square.show(),
            HideSquare: () => this._square.hide(),
            FadeSquare: (opacity, milliseconds, easing) =>
                this._square.fade(opacity, milliseconds, easing),
            SetGuarding: guarding => this._square.setGuarding(guarding),
            SetMenu: menu => this._setMenu(menu),
            SetIcon: icon => this._setIcon(icon),
        };
        const handlers = {
            Version: VERSION,
            AttachAsync: (args, invocation) => this._attach(invocation),
        };
        for (const [name, method] of Object.entries(methods)) {
            handlers[`${name}Async`] = (args, invocation) => {
                if (this._client === null || invocation.get_sender() !== this._client) {
                    invocation.return_dbus_error(ACCESS_DENIED,
                        `Call Attach first, as the owner of ${CLIENT_NAME}`);
                    return;
                }
                try {
                    invocation.return_value(method(...args) ?? null);
                } catch (e) {
                    invocation.return_dbus_error(INVALID_ARGS, e.message);
                }
            };
        }
        return handlers;
    }

    _attach(invocation) {
        const sender = invocation.get_sender();
        Gio.DBus.session.call('org.freedesktop.DBus', '/org/freedesktop/DBus',
            'org.freedesktop.DBus', 'GetNameOwner', new GLib.Variant('(s)', [CLIENT_NAME]),
            new GLib.VariantType('(s)'), Gio.DBusCallFlags.NONE, -1, null,
            (connection, result) => {
                let owner = null;
                try {
                    [owner] = connection.call_finish(result).deepUnpack();
                } catch {
                    // Nobody owns the name: the caller is refused below.
                }
                if (owner !== sender || this._service === null) {
                    invocation.return_dbus_error(ACCESS_DENIED,
                        `Only the owner of ${CLIENT_NAME} may attach`);
                    return;
                }
                // An earlier client is told it has lost the square and the watches.
                if (this._client !== null && this._client !== sender)
                    this._emit('Gone');
                this._detach();
                this._client = sender;
                // A unique name never comes back, so its vanishing is the end of this client.
                this._clientWatch = Gio.bus_watch_name_on_connection(Gio.DBus.session, sender,
                    Gio.BusNameWatcherFlags.NONE, null, () => this._detach());
                this._square = new Square((...signal) => this._emit(...signal));
                invocation.return_value(new GLib.Variant('(u)', [VERSION]));
            });
    }

    // Takes down everything shown or watched for the client, and forgets it.
    _detach() {
        if (this._clientWatch !== 0)
            Gio.bus_unwatch_name(this._clientWatch);
        this._clientWatch = 0;
        this._client = null;
        this._watchIdle(0);
        this._stopWatchingInput();
        this._square?.destroy();
        this._square = null;
        this._button?.destroy();
        this._button = this._icon = null;
        this._iconName = DEFAULT_ICON;
    }

    // Signals go to the client alone: other programs on the bus learn nothing about the input.
    _emit(signal, signature = null, ...values) {
        if (this._client === null)
            return;
        Gio.DBus.session.emit_signal(this._client, OBJECT_PATH, INTERFACE, signal,
            signature === null ? null : new GLib.Variant(signature, values));
    }

    _watchIdle(milliseconds) {
        const monitor = global.backend.get_core_idle_monitor();
        if (this._idleWatch !== 0)
            monitor.remove_watch(this._idleWatch);
        if (this._idleRestartWatch !== 0)
            monitor.remove_watch(this._idleRestartWatch);
        this._idleWatch = this._idleRestartWatch = 0;
        if (milliseconds === 0)
            return;

        const fired = () => {
            this._watchIdle(0);
            this._emit('Idled');
        };
        // Mutter counts an idle watch from the last input, which may lie well before this call
        // and would fire it at once. Until input comes, the watch is lengthened by the idle time
        // already past, so that it counts from the call; from the first input on, it counts from
        // the last input by itself.
        this._idleWatch = monitor.add_idle_watch(monitor.get_idletime() + milliseconds, fired);
        this._idleRestartWatch = monitor.add_user_active_watch(() => {
            this._idleRestartWatch = 0;
            monitor.remove_watch(this._idleWatch);
            this._idleWatch = monitor.add_idle_watch(milliseconds, fired);
        });
    }

    _watchInput() {
        this._stopWatchingInput();
        // A user-active watch fires once, at the next input, and mutter removes it then.
        this._inputWatch = global.backend.get_core_idle_monitor().add_user_active_watch(() => {
            this._inputWatch = 0;
            this._emit('InputSeen');
        });
    }

    _stopWatchingInput() {
        if (this._inputWatch !== 0)
            global.backend.get_core_idle_monitor().remove_watch(this._inputWatch);
        this._inputWatch = 0;
    }

    _setMenu(json) {
        const items = JSON.parse(json);
        if (!Array.isArray(items))
            throw new Error('The menu must be a JSON array');
        if (items.length === 0) {
            this._button?.destroy();
            this._button = this._icon = null;
            return;
        }
        if (this._button === null) {
            this._button = new PanelMenu.Button(0.0, this.metadata.name);
            this._icon = new St.Icon({
                style_class: 'system-status-icon',
                gicon: new Gio.ThemedIcon({name: this._iconName}),
            });
            this._button.add_child(this._icon);
            this._button.menu.connect('open-state-changed', (menu, open) => {
                if (open)
                    this._emit('MenuOpened');
            });
            Main.panel.addToStatusArea(this.uuid, this._button);
        }
        // Rebuilt whole each time: menus are short, and the program sends the state it wants.
        this._button.menu.removeAll();
        addMenuItems(this._button.menu, items, id => this._emit('MenuItemActivated', '(i)', id));
    }

    _setIcon(name) {
        this._iconName = name;
        if (this._button !== null)
            this._icon.gicon = new Gio.ThemedIcon({name});
    }
}

function addMenuItems(menu, items, activated) {
    // Beside a check mark, the other items keep the mark's room so that the labels align.
    const withChecks = items.some(item => 'checked' in item);
    for (const item of items) {
        if (item.separator) {
            menu.addMenuItem(new PopupMenu.PopupSeparatorMenuItem());
            continue;
        }
        let menuItem;
        if (Array.isArray(item.submenu)) {
            menuItem = new PopupMenu.PopupSubMenuMenuItem(item.label ?? '');
            addMenuItems(menuItem.menu, item.submenu, activated);
        } else {
            menuItem = new PopupMenu.PopupMenuItem(item.label ?? '');
            menuItem.connect('activate', () => activated(item.id));
        }
        if (withChecks)
            menuItem.setOrnament(item.checked ? PopupMenu.Ornament.CHECK : PopupMenu.Ornament.NONE);
        if (item.enabled === false)
            menuItem.setSensitive(false);
        menu.addMenuItem(menuItem);
    }
}

const EASINGS = {
    'ease-out': Clutter.AnimationMode.EASE_OUT_QUAD,
    'ease-in': Clutter.AnimationMode.EASE_IN_QUAD,
};

// The square: above every window and popup, and hidden while a window fills its monitor. The
// holder's visibility follows full screen, so the program's show, hide and fade act on the
// square inside it: the drawing, and over it a transparent cover that takes the input (see
// setGuarding).
class Square {
    constructor(emit) {
        this._drawing = {};
        this._rect = new Mtk.Rectangle();
        this._area = new St.DrawingArea();
        this._cover = new St.Widget({reactive: true});
        this._guarding = true;
        this._pressHeld = false;
        this._hideAtRelease = false;
        this._square = new St.Widget({visible: false});
        this._square.add_child(this._area);
        this._square.add_child(this._cover);
        this._holder = new St.Widget({name: 'dovetrel-square'});
        this._holder.add_child(this._square);
        Main.layoutManager.addTopChrome(this._holder);
        // Not the layout manager's trackFullscreen: it judges the monitor where the holder was
        // when added, and again only when full screen changes, so a square moved to another
        // monitor would keep the old monitor's verdict.
        global.display.connectObject('in-fullscreen-changed', () => this._followFullScreen(),
            this._holder);
        // The overview is no place for a square either.
        Main.overview.connectObject(
            'showing', () => this._followFullScreen(),
            'hidden', () => this._followFullScreen(),
            this._holder);

        this._area.connect('repaint', () => this._paint());
        // Stopping the press keeps it from the window below; stopping the release too leaves
        // that window with no half of the click.
        this._cover.connect('button-press-event', (actor, event) => {
            this._pressHeld = true;
            emit('SquarePressed', '(udd)', event.get_button(), ...event.get_coords());
            return Clutter.EVENT_STOP;
        });
        this._cover.connect('button-release-event', () => {
            this._letGoOfPress();
            return Clutter.EVENT_STOP;
        });
        this._cover.connect('motion-event', (actor, event) => {
            emit('PointerMovedOnSquare', '(dd)', ...event.get_coords());
            return Clutter.EVENT_STOP;
        });
        // Hiding the square or a grab elsewhere also makes crossings; only a shown square's
        // are news to the program.
        this._cover.connect('leave-event', () => {
            if (this._cover.mapped)
                emit('PointerLeftSquare');
            return Clutter.EVENT_PROPAGATE;
        });
        this._cover.connect('scroll-event', () => {
            emit('ScrolledOnSquare');
            return Clutter.EVENT_STOP;
        });
    }

    destroy() {
        this._holder.destroy();
    }

    place(x, y, side, drawing) {
        this._holder.set_position(x, y);
        this._area.set_size(side, side);
        this._cover.set_size(side, side);
        this._rect = new Mtk.Rectangle({
            x: Math.round(x), y: Math.round(y),
            width: Math.round(side), height: Math.round(side),
        });
        this._followFullScreen();
        // Recursively: a list of numbers may come as av (QtDBus sends its lists so), not ad.
        this._drawing = Object.fromEntries(
            Object.entries(drawing).map(([key, value]) => [key, value.recursiveUnpack()]));
        this._area.queue_repaint();
    }

    show() {
        this._hideAtRelease = false;
        // Chrome added after the square (a screenshot's frame, say) would otherwise cover it.
        Main.layoutManager.uiGroup.set_child_above_sibling(this._holder, null);
        this._square.show();
    }

    // Hidden while a press it stopped is held, the square would hand the release to the window
    // below: until the release it only turns invisible.
    hide() {
        if (this._pressHeld) {
            this._hideAtRelease = true;
            this._square.remove_all_transitions();
            this._square.opacity = 0;
            return;
        }
        this._hideAtRelease = false;
        this._square.hide();
    }

    fade(opacity, milliseconds, easing) {
        const mode = EASINGS[easing];
        if (mode === undefined)
            throw new Error(`Unknown easing "${easing}"`);
        const value = Math.round(Math.min(Math.max(opacity, 0), 1) * 255);
        this._square.remove_all_transitions();
        if (milliseconds === 0)
            this._square.opacity = value;
        else
            this._square.ease({opacity: value, duration: milliseconds, mode});
    }

    // A square that does not guard lets presses through by not being picked at all. Clutter
    // picks again at once when an actor is shown or hidden, but after a change of `reactive`
    // only at the next event, which would still go where the old pick said.
    setGuarding(guarding) {
        // Not while a press it stopped is held: the program turns guarding off as it hears of
        // the press, and the window below would get the release alone.
        this._guarding = guarding;
        if (!this._pressHeld)
            this._cover.visible = guarding;
    }

    _letGoOfPress() {
        this._pressHeld = false;
        this._cover.visible = this._guarding;
        if (this._hideAtRelease)
            this.hide();
    }

    _followFullScreen() {
        const monitor = global.display.get_monitor_index_for_rect(this._rect);
        this._holder.visible =
            !Main.overview.visible && !global.display.get_monitor_in_fullscreen(monitor);
    }

    _paint() {
        const d = this._drawing;
        const cr = this._area.get_context();
        if (d.outer) {
            roundedRectangle(cr, d.outer, d.outerRadius ?? 0);
            cr.setSourceRGBA(...d.outerFill ?? [0, 0, 0, 0]);
            cr.fillPreserve();
            cr.setSourceRGBA(...d.outerStroke ?? [0, 0, 0, 0]);
            cr.setLineWidth(d.outerLineWidth ?? 1);
            cr.stroke();
        }
        if (d.inner) {
            roundedRectangle(cr, d.inner, d.innerRadius ?? 0);
            cr.setSourceRGBA(...d.innerStroke ?? [0, 0, 0, 0]);
            cr.setLineWidth(d.innerLineWidth ?? 1);
            cr.stroke();
        }
        cr.$dispose();
    }
}

function roundedRectangle(cr, [x, y, width, height], radius) {
    const r = Math.max(0, Math.min(radius, width / 2, height / 2));
    cr.newSubPath();
    cr.arc(x + width - r, y + r, r, -Math.PI / 2, 0);
    cr.arc(x + width - r, y + height - r, r, 0, Math.PI / 2);
    cr.arc(x + r, y + height - r, r, Math.PI / 2, Math.PI);
    cr.arc(x + r, y + r, r, Math.PI, 3 * Math.PI / 2);
    cr.closePath();
}

#include "Permissions.hpp"

#include <QMessageBox>

#include <cstdlib>

#include "Backends/gnome/GnomeBackend.hpp"
#include "Log/DiagnosticLog.hpp"

namespace vantrel::Permissions {

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

QString quoted(const std::string& text) {
    return QStringLiteral("„%1“").arg(QString::fromStdString(text));
}

const QString recheck =
    QStringLiteral(" Vantrel prüft das alle drei Sekunden: Sobald es klappt, wird die Zeile im Menü grün.");

QWidget* request(Permission permission) {
    const auto facts = SessionFacts::current();
    const auto explanation = explain(permission, facts);
    diagnosticLog().info("explaining a missing permission ({}) for DISPLAY '{}', session type '{}'",
                         explanation.title.toStdString(), facts.display, facts.sessionType);
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Vantrel – %1").arg(explanation.title),
                                explanation.what, QMessageBox::Ok);
    box->setInformativeText(explanation.how + recheck);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
    box->raise();
    box->activateWindow();
    return box;
}

}  // namespace

SessionFacts SessionFacts::current() {
    SessionFacts facts{environment("DISPLAY"), environment("WAYLAND_DISPLAY"), environment("XDG_SESSION_TYPE")};
    if (facts.sessionType == "wayland") {
        const auto services = gnomeServices();
        facts.gnomeScreenCast = services.screenCast;
        facts.gnomeRemoteDesktop = services.remoteDesktop;
    }
    return facts;
}

Explanation explain(Permission permission, const SessionFacts& facts) {
    const bool screen = permission == Permission::screenRecording;
    Explanation result;
    result.title = screen ? QStringLiteral("Bildschirmaufnahme") : QStringLiteral("Bedienungshilfen");
    const QString need = screen ? QStringLiteral("Vantrel kann den Bildschirm nicht lesen")
                                : QStringLiteral("Vantrel kann die Eingaben des Telefons nicht ausführen");

    if (facts.sessionType == "wayland" && (facts.gnomeScreenCast || facts.gnomeRemoteDesktop)) {
        // GNOME's compositor: its own services give the picture and take the input, with no dialog.
        const bool answers = screen ? facts.gnomeScreenCast : facts.gnomeRemoteDesktop;
        const QString service = screen ? QStringLiteral("die Bildschirmübertragung (org.gnome.Mutter.ScreenCast)")
                                       : QStringLiteral("die Fernsteuerung (org.gnome.Mutter.RemoteDesktop)");
        if (!answers) {
            result.what = need + QStringLiteral(": GNOME bietet %1 in dieser Sitzung nicht an.").arg(service);
            result.how = QStringLiteral(
                "So geht es: Abmelden und wieder anmelden, damit GNOME Shell den Dienst wieder anbietet. Eine "
                "Freigabe ist nicht nötig: GNOME fragt dafür nicht nach.");
        } else if (screen) {
            result.what = need + QStringLiteral(": GNOME antwortet, aber der Bildschirm kommt nicht über PipeWire an.");
            result.how = QStringLiteral(
                "So geht es: Prüfen, ob PipeWire und WirePlumber in dieser Sitzung laufen (systemctl --user status "
                "pipewire wireplumber), und sie sonst starten.");
        } else {
            result.what = need + QStringLiteral(
                                     ": GNOME nimmt Eingaben an, aber für die Tastaturbelegung dieser Sitzung "
                                     "ließ sich keine Tastenbelegung erstellen. Bis dahin kann das Telefon nur "
                                     "zusehen.");
            result.how = QStringLiteral(
                "So geht es: In den Einstellungen unter „Tastatur“ eine Eingabequelle wählen, die zur Tastatur "
                "passt.");
        }
    } else if (facts.sessionType == "wayland" || !facts.waylandDisplay.empty()) {
        result.what = need + QStringLiteral(": Diese Sitzung verwendet Wayland, Vantrel braucht eine X11-Sitzung.");
        result.how = QStringLiteral(
            "So geht es: Abmelden, auf dem Anmeldebildschirm eine X11-Sitzung wählen (etwa „GNOME on Xorg“ "
            "über das Zahnrad) und wieder anmelden.");
    } else if (facts.display.empty()) {
        result.what = need + QStringLiteral(": Es gibt keine X-Anzeige, die Variable DISPLAY ist nicht gesetzt.");
        result.how = QStringLiteral(
            "So geht es: Vantrel in einer grafischen X11-Sitzung starten, über das Anwendungsmenü oder den "
            "Autostart, nicht aus einer Konsole ohne Anzeige.");
    } else if (screen) {
        result.what =
            need + QStringLiteral(": Die X-Anzeige %1 lässt sich nicht öffnen oder lesen.").arg(quoted(facts.display));
        result.how = QStringLiteral(
            "So geht es: Prüfen, ob der X-Server läuft und dieser Benutzer ihn verwenden darf (XAUTHORITY, "
            "xhost), und Vantrel in der eigenen X11-Sitzung starten.");
    } else {
        result.what = need + QStringLiteral(
                                 ": Der X-Server der Anzeige %1 bietet die Erweiterung XTest nicht an. "
                                 "Bis dahin kann das Telefon nur zusehen.")
                                 .arg(quoted(facts.display));
        result.how = QStringLiteral(
            "So geht es: XTest ist bei Xorg üblicherweise eingeschaltet. Prüfen, ob die Xorg-Konfiguration es "
            "abschaltet (Abschnitt „Extensions“, Option „XTEST“), und den X-Server neu starten.");
    }
    return result;
}

QWidget* requestScreenRecording() {
    return request(Permission::screenRecording);
}

QWidget* requestAccessibility() {
    return request(Permission::accessibility);
}

}  // namespace vantrel::Permissions

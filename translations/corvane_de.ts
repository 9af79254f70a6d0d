<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>About</name>
    <message>
        <source>Copyright © 2026 The Corvane developers. MIT License.</source>
        <translation>Copyright © 2026 Die Corvane-Entwickler. MIT-Lizenz.</translation>
    </message>
    <message>
        <source>TALVO is a utility designed to easily register your Business Servers locally or remotely.  It includes a wizard to aid in the registration of servers.  The wizard option is limited in this release and will be extended.</source>
        <translation>TALVO registriert Ihre Business-Server einfach lokal oder auf entfernten Rechnern.  Ein Assistent hilft beim Registrieren von Servern; er ist in dieser Version eingeschränkt und wird erweitert.</translation>
    </message>
</context>
<context>
    <name>Failure</name>
    <message>
        <source>unknown database error</source>
        <translation>unbekannter Datenbankfehler</translation>
    </message>
    <message>
        <source>the folder %1 cannot be created</source>
        <translation>der Ordner %1 kann nicht angelegt werden</translation>
    </message>
    <message>
        <source>it is not a file</source>
        <translation>es ist keine Datei</translation>
    </message>
    <message>
        <source>the folder %1 is not writable</source>
        <translation>der Ordner %1 ist nicht beschreibbar</translation>
    </message>
    <message>
        <source>a setting needs a name</source>
        <translation>eine Einstellung braucht einen Namen</translation>
    </message>
    <message>
        <source>The creation module %1 is missing: it is neither at %2 nor at %3. Reinstall Corvane.</source>
        <translation>Das Erzeugungsmodul %1 fehlt: Es liegt weder unter %2 noch unter %3. Installieren Sie Corvane neu.</translation>
    </message>
    <message>
        <source>The creation module %1 is missing. Reinstall Corvane.</source>
        <translation>Das Erzeugungsmodul %1 fehlt. Installieren Sie Corvane neu.</translation>
    </message>
    <message>
        <source>%1 is not a creation module of this version of Corvane (it offers %2). Reinstall Corvane.</source>
        <translation>%1 ist kein Erzeugungsmodul dieser Corvane-Version (es bietet %2). Installieren Sie Corvane neu.</translation>
    </message>
    <message>
        <source>The creation module %1 could not be loaded: %2. Reinstall Corvane.</source>
        <translation>Das Erzeugungsmodul %1 konnte nicht geladen werden: %2. Installieren Sie Corvane neu.</translation>
    </message>
    <message>
        <source>the file was not found</source>
        <translation>die Datei wurde nicht gefunden</translation>
    </message>
    <message>
        <source>it is a folder, not a program</source>
        <translation>es ist ein Ordner, kein Programm</translation>
    </message>
    <message>
        <source>the file is not marked as executable</source>
        <translation>die Datei ist nicht als ausführbar markiert</translation>
    </message>
    <message>
        <source>the file is not a program this computer can run (%1)</source>
        <translation>die Datei ist kein Programm, das dieser Computer ausführen kann (%1)</translation>
    </message>
    <message>
        <source>The settings file
%1
could not be read: %2.

The lists of servers and machines stay empty until it can be read; the file has not been changed.</source>
        <translation>Die Einstellungsdatei
%1
konnte nicht gelesen werden: %2.

Die Listen der Server und Rechner bleiben leer, bis sie gelesen werden kann; die Datei wurde nicht verändert.</translation>
    </message>
    <message>
        <source>The settings file
%1
could not be updated: %2.

&quot;%3&quot; has not been remembered.</source>
        <translation>Die Einstellungsdatei
%1
konnte nicht aktualisiert werden: %2.

„%3“ wurde nicht in die Liste übernommen.</translation>
    </message>
    <message>
        <source>The settings file
%1
could not be updated: %2.

&quot;%3&quot; has not been forgotten.</source>
        <translation>Die Einstellungsdatei
%1
konnte nicht aktualisiert werden: %2.

„%3“ wurde nicht aus der Liste entfernt.</translation>
    </message>
    <message>
        <source>Unable to update registry, please try again</source>
        <translation>Die Registrierung konnte nicht aktualisiert werden, bitte erneut versuchen</translation>
    </message>
    <message>
        <source>The class registration could not be read: %1</source>
        <translation>Die Klassenregistrierung konnte nicht gelesen werden: %1</translation>
    </message>
    <message>
        <source>%1 could not be started: %2.</source>
        <translation>%1 konnte nicht gestartet werden: %2.</translation>
    </message>
</context>
<context>
    <name>frmImport</name>
    <message>
        <source>Import Classes</source>
        <translation>Klassen importieren</translation>
    </message>
    <message>
        <source>&amp;Classes:</source>
        <translation>&amp;Klassen:</translation>
    </message>
    <message>
        <source>Classes to import</source>
        <translation>Zu importierende Klassen</translation>
    </message>
    <message>
        <source>&amp;Pair...</source>
        <translation>K&amp;oppeln...</translation>
    </message>
    <message>
        <source>&amp;Import</source>
        <translation>&amp;Importieren</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Import Classes from %1</source>
        <translation>Klassen von %1 importieren</translation>
    </message>
    <message>
        <source>These are the classes that automation-host on %1 creates for you. The checked ones are registered on this computer for activation on %1; their servers stay there.</source>
        <translation>Diese Klassen erzeugt automation-host auf %1 für Sie. Die angehakten werden auf diesem Computer für die Aktivierung auf %1 registriert; ihre Server bleiben dort.</translation>
    </message>
    <message>
        <source>Asking %1 for its classes...</source>
        <translation>Klassen werden bei %1 abgefragt...</translation>
    </message>
    <message>
        <source>Could not ask %1 for its classes: %2</source>
        <translation>Die Klassen von %1 konnten nicht abgefragt werden: %2</translation>
    </message>
    <message>
        <source>Pair with %1 first, then import.</source>
        <translation>Koppeln Sie zuerst mit %1, dann importieren Sie.</translation>
    </message>
    <message>
        <source>%1 serves you no class.</source>
        <translation>%1 stellt Ihnen keine Klasse bereit.</translation>
    </message>
    <message>
        <source>Check the classes to register here; Space checks or unchecks the one with the focus.</source>
        <translation>Haken Sie die hier zu registrierenden Klassen an; die Leertaste setzt oder entfernt den Haken der Klasse mit dem Fokus.</translation>
    </message>
    <message>
        <source>Import failed: %1</source>
        <translation>Import fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>Registered for activation on %1, and listed on the Server page: %2.</source>
        <translation>Für die Aktivierung auf %1 registriert und auf der Seite Server aufgeführt: %2.</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
</context>
<context>
    <name>frmPair</name>
    <message>
        <source>Pair</source>
        <translation>Koppeln</translation>
    </message>
    <message>
        <source>Verification code</source>
        <translation>Prüfcode</translation>
    </message>
    <message>
        <source>Command that accepts the request</source>
        <translation>Befehl, der die Anfrage annimmt</translation>
    </message>
    <message>
        <source>Waiting for the answer</source>
        <translation>Warten auf die Antwort</translation>
    </message>
    <message>
        <source>&amp;Import Classes...</source>
        <translation>Klassen &amp;importieren...</translation>
    </message>
    <message>
        <source>&amp;Try Again</source>
        <translation>&amp;Erneut versuchen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Pair with %1</source>
        <translation>Mit %1 koppeln</translation>
    </message>
    <message>
        <source>Corvane asks automation-host on %1 to serve you. Both computers show the same code; once its user has compared them and accepted, you can create objects there.</source>
        <translation>Corvane bittet automation-host auf %1, Sie zu bedienen. Beide Computer zeigen denselben Code; sobald dessen Benutzer die Codes verglichen und angenommen hat, können Sie dort Objekte erzeugen.</translation>
    </message>
    <message>
        <source>The code shows here once %1 answers.</source>
        <translation>Der Code erscheint hier, sobald %1 antwortet.</translation>
    </message>
    <message>
        <source>Connecting to %1...</source>
        <translation>Verbindung zu %1 wird hergestellt...</translation>
    </message>
    <message>
        <source>Verification code %1</source>
        <translation>Prüfcode %1</translation>
    </message>
    <message>
        <source>Check that %1 shows this code, then accept the request there: choose Accept in its notification, or let the user who runs automation-host there run</source>
        <translation>Prüfen Sie, ob %1 diesen Code zeigt, und nehmen Sie die Anfrage dort an: mit Accept in der Benachrichtigung, oder der Benutzer, unter dem automation-host dort läuft, führt diesen Befehl aus:</translation>
    </message>
    <message>
        <source>Waiting for %1 to accept the request...</source>
        <translation>Warten, bis %1 die Anfrage annimmt...</translation>
    </message>
    <message>
        <source>Not paired: %1</source>
        <translation>Nicht gekoppelt: %1</translation>
    </message>
    <message>
        <source>Paired with %1.</source>
        <translation>Mit %1 gekoppelt.</translation>
    </message>
    <message>
        <source>Its host knew you already; it is now known here too.</source>
        <translation>Der Host kannte Sie bereits; nun ist er auch hier bekannt.</translation>
    </message>
    <message>
        <source>Its new identity replaces the one recorded before (%1).</source>
        <translation>Seine neue Identität ersetzt die zuvor gespeicherte (%1).</translation>
    </message>
    <message>
        <source>Import its classes to use them here.</source>
        <translation>Importieren Sie seine Klassen, um sie hier zu nutzen.</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
</context>
<context>
    <name>frmServerProps</name>
    <message>
        <source>Remote Server Properties</source>
        <translation>Eigenschaften des Remote-Servers</translation>
    </message>
    <message>
        <source>Server properties</source>
        <translation>Servereigenschaften</translation>
    </message>
    <message>
        <source>Page tabs</source>
        <translation>Registerkarten</translation>
    </message>
    <message>
        <source>General</source>
        <translation>Allgemein</translation>
    </message>
    <message>
        <source>Local/Remote Server</source>
        <translation>Lokaler oder Remote-Server</translation>
    </message>
    <message>
        <source>Registered for remote activation</source>
        <translation>Für Remote-Aktivierung registriert</translation>
    </message>
    <message>
        <source>Remote details</source>
        <translation>Remote-Einstellungen</translation>
    </message>
    <message>
        <source>Machine Name:</source>
        <translation>Rechnername:</translation>
    </message>
    <message>
        <source>Machine name</source>
        <translation>Rechnername</translation>
    </message>
    <message>
        <source>Machine name or IP address</source>
        <translation>Rechnername oder IP-Adresse</translation>
    </message>
    <message>
        <source>Remembered machines</source>
        <translation>Bekannte Rechner</translation>
    </message>
    <message>
        <source>Network Protocol:</source>
        <translation>Netzwerkprotokoll:</translation>
    </message>
    <message>
        <source>Network protocol</source>
        <translation>Netzwerkprotokoll</translation>
    </message>
    <message>
        <source>Network protocols</source>
        <translation>Netzwerkprotokolle</translation>
    </message>
    <message>
        <source>Authentication:</source>
        <translation>Authentif.:</translation>
    </message>
    <message>
        <source>Authentication level</source>
        <translation>Authentifizierungsebene</translation>
    </message>
    <message>
        <source>Authentication levels</source>
        <translation>Authentifizierungsebenen</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>A machine name or IP address must be specified</source>
        <translation>Ein Rechnername oder eine IP-Adresse muss angegeben werden</translation>
    </message>
</context>
<context>
    <name>frmServerReg</name>
    <message>
        <source>Server, Machines and About pages</source>
        <translation>Seiten Server, Rechner und Info</translation>
    </message>
    <message>
        <source>Page tabs</source>
        <translation>Registerkarten</translation>
    </message>
    <message>
        <source>Server</source>
        <translation>Server</translation>
    </message>
    <message>
        <source>OLE Automation Servers can be registered to either run locally or on a remote machine.  Use this program to register and configure OLE Servers.</source>
        <translation>OLE-Automatisierungsserver laufen lokal oder auf einem entfernten Rechner.  Mit diesem Programm registrieren und konfigurieren Sie OLE-Server.</translation>
    </message>
    <message>
        <source>Servers</source>
        <translation>Server</translation>
    </message>
    <message>
        <source>Server class name</source>
        <translation>Klassenname des Servers</translation>
    </message>
    <message>
        <source>Remembered servers</source>
        <translation>Bekannte Server</translation>
    </message>
    <message>
        <source>Server properties</source>
        <translation>Servereigenschaften</translation>
    </message>
    <message>
        <source>P&amp;roperties</source>
        <translation>&amp;Details</translation>
    </message>
    <message>
        <source>Test server</source>
        <translation>Server testen</translation>
    </message>
    <message>
        <source>&amp;Test</source>
        <translation>&amp;Testen</translation>
    </message>
    <message>
        <source>Remove server</source>
        <translation>Server entfernen</translation>
    </message>
    <message>
        <source>R&amp;emove</source>
        <translation>&amp;Entfernen</translation>
    </message>
    <message>
        <source>Click button to register new server...</source>
        <translation>Neuen Server registrieren...</translation>
    </message>
    <message>
        <source>Add server</source>
        <translation>Server hinzufügen</translation>
    </message>
    <message>
        <source>&amp;Add...</source>
        <translation>&amp;Hinzufügen...</translation>
    </message>
    <message>
        <source>Machines</source>
        <translation>Rechner</translation>
    </message>
    <message>
        <source>TALVO logs the remote machines it knows of in the registry for future reference. Use this screen to remove unused machines.</source>
        <translation>TALVO merkt sich die entfernten Rechner, die es kennt, in der Registrierung. Auf dieser Seite entfernen Sie nicht mehr benötigte Rechner.</translation>
    </message>
    <message>
        <source>Remembered machines</source>
        <translation>Bekannte Rechner</translation>
    </message>
    <message>
        <source>Remove machine</source>
        <translation>Rechner entfernen</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Entfernen</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Info</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Server must be entered</source>
        <translation>Ein Server muss angegeben werden</translation>
    </message>
    <message>
        <source>Server has not been registered</source>
        <translation>Der Server ist nicht registriert</translation>
    </message>
    <message>
        <source>Remove %1?</source>
        <translation>%1 entfernen?</translation>
    </message>
    <message>
        <source>Machine commands</source>
        <translation>Befehle für den Rechner</translation>
    </message>
    <message>
        <source>&amp;Pair...</source>
        <translation>&amp;Koppeln...</translation>
    </message>
    <message>
        <source>&amp;Import Classes...</source>
        <translation>Klassen &amp;importieren...</translation>
    </message>
</context>
<context>
    <name>frmServerWizard</name>
    <message>
        <source>Register New Server</source>
        <translation>Neuen Server registrieren</translation>
    </message>
    <message>
        <source>Server file path</source>
        <translation>Pfad der Serverdatei</translation>
    </message>
    <message>
        <source>Machine name</source>
        <translation>Rechnername</translation>
    </message>
    <message>
        <source>Machine name or IP address</source>
        <translation>Rechnername oder IP-Adresse</translation>
    </message>
    <message>
        <source>Remembered machines</source>
        <translation>Bekannte Rechner</translation>
    </message>
    <message>
        <source>Configure for Remote Automation?</source>
        <translation>Für Remote-Automatisierung konfigurieren?</translation>
    </message>
    <message>
        <source>Network protocol</source>
        <translation>Netzwerkprotokoll</translation>
    </message>
    <message>
        <source>Network protocols</source>
        <translation>Netzwerkprotokolle</translation>
    </message>
    <message>
        <source>Authentication level</source>
        <translation>Authentifizierungsebene</translation>
    </message>
    <message>
        <source>Authentication levels</source>
        <translation>Authentifizierungsebenen</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>Zurück</translation>
    </message>
    <message>
        <source>&lt; &amp;Back</source>
        <translation>&lt; &amp;Zurück</translation>
    </message>
    <message>
        <source>&amp;Next &gt;</source>
        <translation>&amp;Weiter &gt;</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>&amp;Machine Name:</source>
        <translation>&amp;Rechnername:</translation>
    </message>
    <message>
        <source>&amp;Protocol:</source>
        <translation>&amp;Protokoll:</translation>
    </message>
    <message>
        <source>&amp;Authentication Level</source>
        <translation>&amp;Authentifizierungsebene</translation>
    </message>
    <message>
        <source>Browse for the server file</source>
        <translation>Serverdatei suchen</translation>
    </message>
    <message>
        <source>...</source>
        <translation>...</translation>
    </message>
    <message>
        <source>Server class name</source>
        <translation>Klassenname des Servers</translation>
    </message>
    <message>
        <source>You have successfully added a new Server called:</source>
        <translation>Sie haben erfolgreich einen neuen Server hinzugefügt:</translation>
    </message>
    <message>
        <source>Click Finish to register the classes in this Server.

To edit the classes later, run TALVO, enter the class name and click Properties.</source>
        <translation>Klicken Sie auf „Fertig stellen“, um die Klassen dieses Servers zu registrieren.

Um die Klassen später zu bearbeiten, starten Sie TALVO, geben den Klassennamen ein und klicken auf „Details“.</translation>
    </message>
    <message>
        <source>&amp;Enter the .EXE, .DLL or .VBR of the Server to register:</source>
        <translation>&amp;Datei (.EXE, .DLL, .VBR) des neuen Servers:</translation>
    </message>
    <message>
        <source>Finish</source>
        <translation>Fertig stellen</translation>
    </message>
    <message>
        <source>Next</source>
        <translation>Weiter</translation>
    </message>
    <message>
        <source>Server file must be entered</source>
        <translation>Eine Serverdatei muss angegeben werden</translation>
    </message>
    <message>
        <source>This version only registers .EXE servers</source>
        <translation>Diese Version registriert nur .EXE-Server</translation>
    </message>
    <message>
        <source>%1 was not found</source>
        <translation>%1 wurde nicht gefunden</translation>
    </message>
    <message>
        <source>Server is already registered, use properties to change settings</source>
        <translation>Der Server ist bereits registriert; ändern Sie die Einstellungen über „Details“</translation>
    </message>
    <message>
        <source>Select Server...</source>
        <translation>Server auswählen...</translation>
    </message>
    <message>
        <source>Server (*.exe *.dll);;VB Reg (*.vbr)</source>
        <translation>Server (*.exe *.dll);;VB-Registrierung (*.vbr)</translation>
    </message>
</context>
<context>
    <name>frmTest</name>
    <message>
        <source>Please Wait....</source>
        <translation>Bitte warten...</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Testing Connection...</source>
        <translation>Verbindung wird getestet...</translation>
    </message>
    <message>
        <source>Object Created Successfully</source>
        <translation>Objekt erfolgreich erstellt</translation>
    </message>
    <message>
        <source>Could not create object, please check properties</source>
        <translation>Objekt nicht erstellt, bitte Eigenschaften prüfen</translation>
    </message>
    <message>
        <source>Pairing with the machine fixes this: select it on the Machines page and choose Pair... from its context menu.</source>
        <translation>Koppeln mit dem Rechner behebt dies: Wählen Sie ihn auf der Seite Rechner und im Kontextmenü Koppeln...</translation>
    </message>
</context>
<context>
    <name>settings</name>
    <message>
        <source>[None]</source>
        <translation>[Keine]</translation>
    </message>
    <message>
        <source>TCP/IP</source>
        <translation>TCP/IP</translation>
    </message>
    <message>
        <source>SPX</source>
        <translation>SPX</translation>
    </message>
    <message>
        <source>Named Pipes</source>
        <translation>Named Pipes</translation>
    </message>
    <message>
        <source>NetBIOS over NetBEUI</source>
        <translation>NetBIOS über NetBEUI</translation>
    </message>
    <message>
        <source>NetBIOS over TCP</source>
        <translation>NetBIOS über TCP</translation>
    </message>
    <message>
        <source>NetBIOS over IPX</source>
        <translation>NetBIOS über IPX</translation>
    </message>
    <message>
        <source>Datagrams - IPX</source>
        <translation>Datagramme - IPX</translation>
    </message>
    <message>
        <source>Datagrams - UDP</source>
        <translation>Datagramme - UDP</translation>
    </message>
    <message>
        <source>Default</source>
        <translation>Standard</translation>
    </message>
    <message>
        <source>No Authentication</source>
        <translation>Keine Authentifizierung</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Verbindung</translation>
    </message>
    <message>
        <source>Call</source>
        <translation>Aufruf</translation>
    </message>
    <message>
        <source>Packet</source>
        <translation>Paket</translation>
    </message>
    <message>
        <source>Packet Integrity</source>
        <translation>Paketintegrität</translation>
    </message>
    <message>
        <source>Packet Privacy</source>
        <translation>Paketvertraulichkeit</translation>
    </message>
</context>
</TS>

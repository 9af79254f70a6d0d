<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr">
<context>
    <name>About</name>
    <message>
        <source>Copyright © 2026 The Corvane developers. MIT License.</source>
        <translation>Copyright © 2026 Les développeurs de Corvane. Licence MIT.</translation>
    </message>
    <message>
        <source>TALVO is a utility designed to easily register your Business Servers locally or remotely.  It includes a wizard to aid in the registration of servers.  The wizard option is limited in this release and will be extended.</source>
        <translation>TALVO est un utilitaire qui enregistre facilement vos serveurs métier, en local ou à distance.  Un assistant aide à enregistrer les serveurs&#xa0;; il est limité dans cette version et sera étendu.</translation>
    </message>
</context>
<context>
    <name>Failure</name>
    <message>
        <source>unknown database error</source>
        <translation>erreur de base de données inconnue</translation>
    </message>
    <message>
        <source>the folder %1 cannot be created</source>
        <translation>le dossier %1 ne peut pas être créé</translation>
    </message>
    <message>
        <source>it is not a file</source>
        <translation>ce n’est pas un fichier</translation>
    </message>
    <message>
        <source>the folder %1 is not writable</source>
        <translation>le dossier %1 n’est pas accessible en écriture</translation>
    </message>
    <message>
        <source>a setting needs a name</source>
        <translation>un paramètre doit avoir un nom</translation>
    </message>
    <message>
        <source>The creation module %1 is missing: it is neither at %2 nor at %3. Reinstall Corvane.</source>
        <translation>Le module de création %1 est introuvable&#xa0;: il n’est ni dans %2 ni dans %3. Réinstallez Corvane.</translation>
    </message>
    <message>
        <source>The creation module %1 is missing. Reinstall Corvane.</source>
        <translation>Le module de création %1 est introuvable. Réinstallez Corvane.</translation>
    </message>
    <message>
        <source>%1 is not a creation module of this version of Corvane (it offers %2). Reinstall Corvane.</source>
        <translation>%1 n’est pas un module de création de cette version de Corvane (il fournit %2). Réinstallez Corvane.</translation>
    </message>
    <message>
        <source>The creation module %1 could not be loaded: %2. Reinstall Corvane.</source>
        <translation>Le module de création %1 n’a pas pu être chargé&#xa0;: %2. Réinstallez Corvane.</translation>
    </message>
    <message>
        <source>the file was not found</source>
        <translation>le fichier est introuvable</translation>
    </message>
    <message>
        <source>it is a folder, not a program</source>
        <translation>c’est un dossier, pas un programme</translation>
    </message>
    <message>
        <source>the file is not marked as executable</source>
        <translation>le fichier n’est pas marqué comme exécutable</translation>
    </message>
    <message>
        <source>the file is not a program this computer can run (%1)</source>
        <translation>le fichier n’est pas un programme que cet ordinateur peut exécuter (%1)</translation>
    </message>
    <message>
        <source>The settings file
%1
could not be read: %2.

The lists of servers and machines stay empty until it can be read; the file has not been changed.</source>
        <translation>Le fichier de paramètres
%1
n’a pas pu être lu&#xa0;: %2.

Les listes de serveurs et de machines restent vides tant qu’il ne peut pas être lu&#xa0;; le fichier n’a pas été modifié.</translation>
    </message>
    <message>
        <source>The settings file
%1
could not be updated: %2.

&quot;%3&quot; has not been remembered.</source>
        <translation>Le fichier de paramètres
%1
n’a pas pu être mis à jour&#xa0;: %2.

«&#xa0;%3&#xa0;» n’a pas été mémorisé.</translation>
    </message>
    <message>
        <source>The settings file
%1
could not be updated: %2.

&quot;%3&quot; has not been forgotten.</source>
        <translation>Le fichier de paramètres
%1
n’a pas pu être mis à jour&#xa0;: %2.

«&#xa0;%3&#xa0;» n’a pas été oublié.</translation>
    </message>
    <message>
        <source>Unable to update registry, please try again</source>
        <translation>Impossible de mettre à jour l’enregistrement, veuillez réessayer</translation>
    </message>
    <message>
        <source>The class registration could not be read: %1</source>
        <translation>L’enregistrement des classes n’a pas pu être lu&#xa0;: %1</translation>
    </message>
    <message>
        <source>%1 could not be started: %2.</source>
        <translation>%1 n’a pas pu être démarré&#xa0;: %2.</translation>
    </message>
</context>
<context>
    <name>frmImport</name>
    <message>
        <source>Import Classes</source>
        <translation>Importer des classes</translation>
    </message>
    <message>
        <source>&amp;Classes:</source>
        <translation>&amp;Classes :</translation>
    </message>
    <message>
        <source>Classes to import</source>
        <translation>Classes à importer</translation>
    </message>
    <message>
        <source>&amp;Pair...</source>
        <translation>&amp;Appairer...</translation>
    </message>
    <message>
        <source>&amp;Import</source>
        <translation>&amp;Importer</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>Import Classes from %1</source>
        <translation>Importer les classes de %1</translation>
    </message>
    <message>
        <source>These are the classes that automation-host on %1 creates for you. The checked ones are registered on this computer for activation on %1; their servers stay there.</source>
        <translation>Voici les classes qu&apos;automation-host crée pour vous sur %1. Celles qui sont cochées sont enregistrées sur cet ordinateur pour une activation sur %1 ; leurs serveurs restent là-bas.</translation>
    </message>
    <message>
        <source>Asking %1 for its classes...</source>
        <translation>Demande de ses classes à %1...</translation>
    </message>
    <message>
        <source>Could not ask %1 for its classes: %2</source>
        <translation>Impossible de demander ses classes à %1 : %2</translation>
    </message>
    <message>
        <source>Pair with %1 first, then import.</source>
        <translation>Appairez d&apos;abord avec %1, puis importez.</translation>
    </message>
    <message>
        <source>%1 serves you no class.</source>
        <translation>%1 ne vous sert aucune classe.</translation>
    </message>
    <message>
        <source>Check the classes to register here; Space checks or unchecks the one with the focus.</source>
        <translation>Cochez les classes à enregistrer ici ; Espace coche ou décoche celle qui a le focus.</translation>
    </message>
    <message>
        <source>Import failed: %1</source>
        <translation>Échec de l&apos;import : %1</translation>
    </message>
    <message>
        <source>Registered for activation on %1, and listed on the Server page: %2.</source>
        <translation>Enregistrées pour une activation sur %1 et listées sur la page Serveur : %2.</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
    </message>
</context>
<context>
    <name>frmPair</name>
    <message>
        <source>Pair</source>
        <translation>Appairer</translation>
    </message>
    <message>
        <source>Verification code</source>
        <translation>Code de vérification</translation>
    </message>
    <message>
        <source>Command that accepts the request</source>
        <translation>Commande qui accepte la demande</translation>
    </message>
    <message>
        <source>Waiting for the answer</source>
        <translation>En attente de la réponse</translation>
    </message>
    <message>
        <source>&amp;Import Classes...</source>
        <translation>&amp;Importer des classes...</translation>
    </message>
    <message>
        <source>&amp;Try Again</source>
        <translation>&amp;Réessayer</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>Pair with %1</source>
        <translation>Appairer avec %1</translation>
    </message>
    <message>
        <source>Corvane asks automation-host on %1 to serve you. Both computers show the same code; once its user has compared them and accepted, you can create objects there.</source>
        <translation>Corvane demande à automation-host sur %1 de vous servir. Les deux ordinateurs affichent le même code ; une fois que son utilisateur les a comparés et a accepté, vous pouvez y créer des objets.</translation>
    </message>
    <message>
        <source>The code shows here once %1 answers.</source>
        <translation>Le code s&apos;affiche ici dès que %1 répond.</translation>
    </message>
    <message>
        <source>Connecting to %1...</source>
        <translation>Connexion à %1...</translation>
    </message>
    <message>
        <source>Verification code %1</source>
        <translation>Code de vérification %1</translation>
    </message>
    <message>
        <source>Check that %1 shows this code, then accept the request there: choose Accept in its notification, or let the user who runs automation-host there run</source>
        <translation>Vérifiez que %1 affiche ce code, puis acceptez la demande là-bas : choisissez Accept dans sa notification, ou faites exécuter par l&apos;utilisateur d&apos;automation-host là-bas ce qui suit :</translation>
    </message>
    <message>
        <source>Waiting for %1 to accept the request...</source>
        <translation>En attente de l&apos;acceptation par %1...</translation>
    </message>
    <message>
        <source>Not paired: %1</source>
        <translation>Non appairé : %1</translation>
    </message>
    <message>
        <source>Paired with %1.</source>
        <translation>Appairé avec %1.</translation>
    </message>
    <message>
        <source>Its host knew you already; it is now known here too.</source>
        <translation>Son hôte vous connaissait déjà ; il est maintenant connu ici aussi.</translation>
    </message>
    <message>
        <source>Its new identity replaces the one recorded before (%1).</source>
        <translation>Sa nouvelle identité remplace celle enregistrée auparavant (%1).</translation>
    </message>
    <message>
        <source>Import its classes to use them here.</source>
        <translation>Importez ses classes pour les utiliser ici.</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
    </message>
</context>
<context>
    <name>frmServerProps</name>
    <message>
        <source>Remote Server Properties</source>
        <translation>Propriétés du serveur distant</translation>
    </message>
    <message>
        <source>Server properties</source>
        <translation>Propriétés du serveur</translation>
    </message>
    <message>
        <source>Page tabs</source>
        <translation>Onglets des pages</translation>
    </message>
    <message>
        <source>General</source>
        <translation>Général</translation>
    </message>
    <message>
        <source>Local/Remote Server</source>
        <translation>Serveur local ou distant</translation>
    </message>
    <message>
        <source>Registered for remote activation</source>
        <translation>Activation à distance</translation>
    </message>
    <message>
        <source>Remote details</source>
        <translation>Paramètres distants</translation>
    </message>
    <message>
        <source>Machine Name:</source>
        <translation>Machine&#xa0;:</translation>
    </message>
    <message>
        <source>Machine name</source>
        <translation>Nom de la machine</translation>
    </message>
    <message>
        <source>Machine name or IP address</source>
        <translation>Nom de la machine ou adresse IP</translation>
    </message>
    <message>
        <source>Remembered machines</source>
        <translation>Machines mémorisées</translation>
    </message>
    <message>
        <source>Network Protocol:</source>
        <translation>Protocole réseau&#xa0;:</translation>
    </message>
    <message>
        <source>Network protocol</source>
        <translation>Protocole réseau</translation>
    </message>
    <message>
        <source>Network protocols</source>
        <translation>Protocoles réseau</translation>
    </message>
    <message>
        <source>Authentication:</source>
        <translation>Authentif.&#xa0;:</translation>
    </message>
    <message>
        <source>Authentication level</source>
        <translation>Niveau d’authentification</translation>
    </message>
    <message>
        <source>Authentication levels</source>
        <translation>Niveaux d’authentification</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>A machine name or IP address must be specified</source>
        <translation>Un nom de machine ou une adresse IP doit être indiqué</translation>
    </message>
</context>
<context>
    <name>frmServerReg</name>
    <message>
        <source>Server, Machines and About pages</source>
        <translation>Pages Serveur, Machines et À propos</translation>
    </message>
    <message>
        <source>Page tabs</source>
        <translation>Onglets des pages</translation>
    </message>
    <message>
        <source>Server</source>
        <translation>Serveur</translation>
    </message>
    <message>
        <source>OLE Automation Servers can be registered to either run locally or on a remote machine.  Use this program to register and configure OLE Servers.</source>
        <translation>Les serveurs OLE Automation peuvent s’exécuter en local ou sur une machine distante.  Ce programme enregistre et configure les serveurs OLE.</translation>
    </message>
    <message>
        <source>Servers</source>
        <translation>Serveurs</translation>
    </message>
    <message>
        <source>Server class name</source>
        <translation>Nom de classe du serveur</translation>
    </message>
    <message>
        <source>Remembered servers</source>
        <translation>Serveurs mémorisés</translation>
    </message>
    <message>
        <source>Server properties</source>
        <translation>Propriétés du serveur</translation>
    </message>
    <message>
        <source>P&amp;roperties</source>
        <translation>P&amp;ropriétés</translation>
    </message>
    <message>
        <source>Test server</source>
        <translation>Tester le serveur</translation>
    </message>
    <message>
        <source>&amp;Test</source>
        <translation>&amp;Tester</translation>
    </message>
    <message>
        <source>Remove server</source>
        <translation>Supprimer le serveur</translation>
    </message>
    <message>
        <source>R&amp;emove</source>
        <translation>&amp;Supprimer</translation>
    </message>
    <message>
        <source>Click button to register new server...</source>
        <translation>Enregistrer un nouveau serveur...</translation>
    </message>
    <message>
        <source>Add server</source>
        <translation>Ajouter un serveur</translation>
    </message>
    <message>
        <source>&amp;Add...</source>
        <translation>&amp;Ajouter...</translation>
    </message>
    <message>
        <source>Machines</source>
        <translation>Machines</translation>
    </message>
    <message>
        <source>TALVO logs the remote machines it knows of in the registry for future reference. Use this screen to remove unused machines.</source>
        <translation>TALVO mémorise dans le registre les machines distantes qu’il connaît. Cette page supprime celles qui ne servent plus.</translation>
    </message>
    <message>
        <source>Remembered machines</source>
        <translation>Machines mémorisées</translation>
    </message>
    <message>
        <source>Remove machine</source>
        <translation>Supprimer la machine</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Supprimer</translation>
    </message>
    <message>
        <source>About</source>
        <translation>À propos</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
    </message>
    <message>
        <source>Server must be entered</source>
        <translation>Un serveur doit être indiqué</translation>
    </message>
    <message>
        <source>Server has not been registered</source>
        <translation>Le serveur n’a pas été enregistré</translation>
    </message>
    <message>
        <source>Remove %1?</source>
        <translation>Supprimer %1&#xa0;?</translation>
    </message>
    <message>
        <source>Machine commands</source>
        <translation>Commandes de la machine</translation>
    </message>
    <message>
        <source>&amp;Pair...</source>
        <translation>&amp;Appairer...</translation>
    </message>
    <message>
        <source>&amp;Import Classes...</source>
        <translation>&amp;Importer des classes...</translation>
    </message>
</context>
<context>
    <name>frmServerWizard</name>
    <message>
        <source>Register New Server</source>
        <translation>Enregistrer un nouveau serveur</translation>
    </message>
    <message>
        <source>Server file path</source>
        <translation>Chemin du fichier serveur</translation>
    </message>
    <message>
        <source>Machine name</source>
        <translation>Nom de la machine</translation>
    </message>
    <message>
        <source>Machine name or IP address</source>
        <translation>Nom de la machine ou adresse IP</translation>
    </message>
    <message>
        <source>Remembered machines</source>
        <translation>Machines mémorisées</translation>
    </message>
    <message>
        <source>Configure for Remote Automation?</source>
        <translation>Configurer pour l’automation à distance&#xa0;?</translation>
    </message>
    <message>
        <source>Network protocol</source>
        <translation>Protocole réseau</translation>
    </message>
    <message>
        <source>Network protocols</source>
        <translation>Protocoles réseau</translation>
    </message>
    <message>
        <source>Authentication level</source>
        <translation>Niveau d’authentification</translation>
    </message>
    <message>
        <source>Authentication levels</source>
        <translation>Niveaux d’authentification</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>Précédent</translation>
    </message>
    <message>
        <source>&lt; &amp;Back</source>
        <translation>&lt; &amp;Précédent</translation>
    </message>
    <message>
        <source>&amp;Next &gt;</source>
        <translation>&amp;Suivant &gt;</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>&amp;Machine Name:</source>
        <translation>&amp;Nom de la machine&#xa0;:</translation>
    </message>
    <message>
        <source>&amp;Protocol:</source>
        <translation>P&amp;rotocole&#xa0;:</translation>
    </message>
    <message>
        <source>&amp;Authentication Level</source>
        <translation>Niveau d’&amp;authentification</translation>
    </message>
    <message>
        <source>Browse for the server file</source>
        <translation>Rechercher le fichier serveur</translation>
    </message>
    <message>
        <source>...</source>
        <translation>...</translation>
    </message>
    <message>
        <source>Server class name</source>
        <translation>Nom de classe du serveur</translation>
    </message>
    <message>
        <source>You have successfully added a new Server called:</source>
        <translation>Vous avez ajouté un nouveau serveur nommé&#xa0;:</translation>
    </message>
    <message>
        <source>Click Finish to register the classes in this Server.

To edit the classes later, run TALVO, enter the class name and click Properties.</source>
        <translation>Cliquez sur Terminer pour enregistrer les classes de ce serveur.

Pour modifier les classes plus tard, lancez TALVO, saisissez le nom de classe et cliquez sur Propriétés.</translation>
    </message>
    <message>
        <source>&amp;Enter the .EXE, .DLL or .VBR of the Server to register:</source>
        <translation>&amp;Fichier .EXE, .DLL ou .VBR du serveur à enregistrer&#xa0;:</translation>
    </message>
    <message>
        <source>Finish</source>
        <translation>Terminer</translation>
    </message>
    <message>
        <source>Next</source>
        <translation>Suivant</translation>
    </message>
    <message>
        <source>Server file must be entered</source>
        <translation>Le fichier serveur doit être indiqué</translation>
    </message>
    <message>
        <source>This version only registers .EXE servers</source>
        <translation>Cette version n’enregistre que des serveurs .EXE</translation>
    </message>
    <message>
        <source>%1 was not found</source>
        <translation>%1 est introuvable</translation>
    </message>
    <message>
        <source>Server is already registered, use properties to change settings</source>
        <translation>Le serveur est déjà enregistré, utilisez Propriétés pour modifier ses paramètres</translation>
    </message>
    <message>
        <source>Select Server...</source>
        <translation>Sélectionner le serveur...</translation>
    </message>
    <message>
        <source>Server (*.exe *.dll);;VB Reg (*.vbr)</source>
        <translation>Serveur (*.exe *.dll);;Enregistrement VB (*.vbr)</translation>
    </message>
</context>
<context>
    <name>frmTest</name>
    <message>
        <source>Please Wait....</source>
        <translation>Veuillez patienter...</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Testing Connection...</source>
        <translation>Test de la connexion...</translation>
    </message>
    <message>
        <source>Object Created Successfully</source>
        <translation>Objet créé avec succès</translation>
    </message>
    <message>
        <source>Could not create object, please check properties</source>
        <translation>Échec de la création, vérifiez les propriétés</translation>
    </message>
    <message>
        <source>Pairing with the machine fixes this: select it on the Machines page and choose Pair... from its context menu.</source>
        <translation>L&apos;appairage avec la machine corrige cela : sélectionnez-la sur la page Machines et choisissez Appairer... dans son menu contextuel.</translation>
    </message>
</context>
<context>
    <name>settings</name>
    <message>
        <source>[None]</source>
        <translation>[Aucun]</translation>
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
        <translation>Canaux nommés</translation>
    </message>
    <message>
        <source>NetBIOS over NetBEUI</source>
        <translation>NetBIOS sur NetBEUI</translation>
    </message>
    <message>
        <source>NetBIOS over TCP</source>
        <translation>NetBIOS sur TCP</translation>
    </message>
    <message>
        <source>NetBIOS over IPX</source>
        <translation>NetBIOS sur IPX</translation>
    </message>
    <message>
        <source>Datagrams - IPX</source>
        <translation>Datagrammes - IPX</translation>
    </message>
    <message>
        <source>Datagrams - UDP</source>
        <translation>Datagrammes - UDP</translation>
    </message>
    <message>
        <source>Default</source>
        <translation>Par défaut</translation>
    </message>
    <message>
        <source>No Authentication</source>
        <translation>Aucune authentification</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Connexion</translation>
    </message>
    <message>
        <source>Call</source>
        <translation>Appel</translation>
    </message>
    <message>
        <source>Packet</source>
        <translation>Paquet</translation>
    </message>
    <message>
        <source>Packet Integrity</source>
        <translation>Intégrité du paquet</translation>
    </message>
    <message>
        <source>Packet Privacy</source>
        <translation>Confidentialité du paquet</translation>
    </message>
</context>
</TS>

<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="pl_PL" sourcelanguage="en_US">
<context>
    <name>CConnectionWarning</name>
    <message>
        <source>Connection error</source>
        <translation>Błąd połączenia</translation>
    </message>
    <message>
        <source>Software update failed. Make sure that your connection with Internet is active.</source>
        <translation>Pobranie nowej wersji oprogramowania nie udało się. Upewnij się, że połączenie z Internetem jest aktywne.</translation>
    </message>
    <message>
        <source>If you use proxy server use button to configure connection.</source>
        <translation>W przypadku korzystania z serwera proxy ustaw dane serwera klikając przycisk.</translation>
    </message>
    <message>
        <source>Proxy settings</source>
        <translation>Ustawienia proxy</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>Ok</translation>
    </message>
</context>
<context>
    <name>CProxySettings</name>
    <message>
        <source>Proxy settings</source>
        <translation>Ustawienia proxy</translation>
    </message>
    <message>
        <source>Enter settings for proxy server.</source>
        <translation>Ustaw dane potrzebne do połączenia z serwerem proxy.</translation>
    </message>
    <message>
        <source>Server</source>
        <translation>Serwer</translation>
    </message>
    <message>
        <source>Address:</source>
        <translation>Adres:</translation>
    </message>
    <message>
        <source>Port:</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>Authentication</source>
        <translation>Uwierzytelnianie</translation>
    </message>
    <message>
        <source>Use authentication data</source>
        <translation>Użyj poniższych ustawień uwierzytelniania</translation>
    </message>
    <message>
        <source>Username:</source>
        <translation>Użytkownik:</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Hasło:</translation>
    </message>
    <message>
        <source>Show password</source>
        <translation>Pokaż hasło</translation>
    </message>
    <message>
        <source>Attention</source>
        <translation>Błąd</translation>
    </message>
    <message>
        <source>Server address not entered</source>
        <translation>Nie podano adresu serwera</translation>
    </message>
    <message>
        <source>Port number not entered</source>
        <translation>Nie podano numeru portu</translation>
    </message>
    <message>
        <source>Username not entered</source>
        <translation>Nie podano nazwy użytkownika</translation>
    </message>
    <message>
        <source>Password not entered</source>
        <translation>Nie podano hasła</translation>
    </message>
</context>
</TS>

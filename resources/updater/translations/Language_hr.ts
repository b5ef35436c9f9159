<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="hr_HR" sourcelanguage="en_US">
<context>
    <name>CConnectionWarning</name>
    <message>
        <source>Connection error</source>
        <translation>Greška u spajanju</translation>
    </message>
    <message>
        <source>Software update failed. Make sure that your connection with Internet is active.</source>
        <translation>Neuspješno ažuriranje softvera. Molimo vas provjerite vašu internetsku vezu.</translation>
    </message>
    <message>
        <source>If you use proxy server use button to configure connection.</source>
        <translation>Ako koristite proxy server, koristite tipku za postavke konfiguracije.</translation>
    </message>
    <message>
        <source>Proxy settings</source>
        <translation>Proxy postavke</translation>
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
        <translation>Proxy postavke</translation>
    </message>
    <message>
        <source>Enter settings for proxy server.</source>
        <translation>Unesite postavke za proxy server.</translation>
    </message>
    <message>
        <source>Server</source>
        <translation>Poslužitelj</translation>
    </message>
    <message>
        <source>Address:</source>
        <translation>Adresa:</translation>
    </message>
    <message>
        <source>Port:</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>Authentication</source>
        <translation>Autentifikacija</translation>
    </message>
    <message>
        <source>Use authentication data</source>
        <translation>Koristi podatke za prijavu</translation>
    </message>
    <message>
        <source>Username:</source>
        <translation>Korisničko ime:</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Lozinka:</translation>
    </message>
    <message>
        <source>Show password</source>
        <translation>Prikaži lozinku</translation>
    </message>
    <message>
        <source>Attention</source>
        <translation>Pažnja</translation>
    </message>
    <message>
        <source>Server address not entered</source>
        <translation>Adresa servera nije unesena</translation>
    </message>
    <message>
        <source>Port number not entered</source>
        <translation>Broj porta nije unesen</translation>
    </message>
    <message>
        <source>Username not entered</source>
        <translation>Korisničko ime nije uneseno</translation>
    </message>
    <message>
        <source>Password not entered</source>
        <translation>Lozinka nije unesena</translation>
    </message>
</context>
</TS>

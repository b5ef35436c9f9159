<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="en_US">
<context>
    <name>CConnectionWarning</name>
    <message>
        <source>Connection error</source>
        <translation>Connection error</translation>
    </message>
    <message>
        <source>Software update failed. Make sure that your connection with Internet is active.</source>
        <translation>Software update failed. Make sure that your connection with Internet is active.</translation>
    </message>
    <message>
        <source>If you use proxy server use button to configure connection.</source>
        <translation>If you use proxy server use button to configure connection.</translation>
    </message>
    <message>
        <source>Proxy settings</source>
        <translation>Proxy settings</translation>
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
        <translation>Proxy settings</translation>
    </message>
    <message>
        <source>Enter settings for proxy server.</source>
        <translation>Enter settings for proxy server.</translation>
    </message>
    <message>
        <source>Server</source>
        <translation>Server</translation>
    </message>
    <message>
        <source>Address:</source>
        <translation>Address:</translation>
    </message>
    <message>
        <source>Port:</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>Authentication</source>
        <translation>Authentication</translation>
    </message>
    <message>
        <source>Use authentication data</source>
        <translation>Use authentication data</translation>
    </message>
    <message>
        <source>Username:</source>
        <translation>Username:</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Password:</translation>
    </message>
    <message>
        <source>Show password</source>
        <translation>Show password</translation>
    </message>
    <message>
        <source>Attention</source>
        <translation>Attention</translation>
    </message>
    <message>
        <source>Server address not entered</source>
        <translation>Server address not entered</translation>
    </message>
    <message>
        <source>Port number not entered</source>
        <translation>Port number not entered</translation>
    </message>
    <message>
        <source>Username not entered</source>
        <translation>Username not entered</translation>
    </message>
    <message>
        <source>Password not entered</source>
        <translation>Password not entered</translation>
    </message>
</context>
</TS>

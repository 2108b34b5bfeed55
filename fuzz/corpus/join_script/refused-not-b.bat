copy a.0+a.1 a
xcopy /b a.0 a

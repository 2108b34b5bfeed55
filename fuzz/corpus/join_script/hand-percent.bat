echo.
echo: ready
@copy /b "50%% off.0"+"50%% off.1" "50%% off"

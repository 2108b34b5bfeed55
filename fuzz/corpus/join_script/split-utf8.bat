@Echo Off
Echo Tarvo Group's File Splitter
Echo *************************
copy /b "résumé.0"+"résumé.1" résumé
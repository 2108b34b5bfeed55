@Echo Off
Echo Tarvo Group's File Splitter
Echo *************************
copy /b "noext.0"+"noext.1" noext
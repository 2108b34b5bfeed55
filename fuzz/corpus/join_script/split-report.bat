@Echo Off
Echo Tarvo Group's File Splitter
Echo *************************
copy /b "report.pdf.0"+"report.pdf.1"+"report.pdf.2" report.pdf